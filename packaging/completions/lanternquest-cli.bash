# bash completion for lanternquest-cli                                -*- shell-script -*-
# Options, the values of --format, --sort, --threads and --attributes, files for the
# options that name a file, and folders (or "network") for LOCATION. Server names and
# smb:// URLs are left to the user: completing them would mean asking the network.

_lanternquest_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local cword=$COMP_CWORD
  COMPREPLY=()
  # COMP_WORDBREAKS splits "--format=js" into "--format" "=" "js".
  if [[ $cur == = ]]; then
    prev=${COMP_WORDS[COMP_CWORD-1]}
    cur=
  elif [[ $prev == = ]] && ((cword >= 2)); then
    prev=${COMP_WORDS[COMP_CWORD-2]}
  elif [[ $cur == --*=* ]]; then
    prev=${cur%%=*}
    cur=${cur#*=}
  fi

  # The options that take a value: the word after one of them is its value.
  local with_value=' --attributes -a --size-from --size-to --time-from --time-to --threads -j --exclude --format --save --export --load --sort --user -U --authentication-file -A --forget-index '
  case $prev in
    --format)
      COMPREPLY=($(compgen -W 'plain json csv' -- "$cur")); return ;;
    --sort)
      COMPREPLY=($(compgen -W 'path name size date time attr -path -name -size -date -time -attr' -- "$cur"))
      return ;;
    --threads | -j)
      COMPREPLY=($(compgen -W '1 2 3 4 5 6 7 8 9 10 11 12' -- "$cur")); return ;;
    --attributes | -a)
      COMPREPLY=($(compgen -W 'RAD RHSAD R H S A D' -- "$cur")); return ;;
    --save | --export | --load | --authentication-file | -A)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --forget-index)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -d -- "$cur") $(compgen -W network -- "$cur")); return ;;
    --size-from | --size-to | --time-from | --time-to | --exclude | --user | -U)
      return ;;
  esac

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '--attributes --size-from --size-to --time-from --time-to
      --threads --long --print0 --exclude --one-file-system --format --save --export
      --load --sort --user --authentication-file --discover --indexed --update-index --index-status
      --forget-index --help --version' -- "$cur"))
    return
  fi

  # Which positional argument this is: PATTERN first, LOCATION second.
  local i word positional=0 skip=0 ended=0 loaded=0
  for ((i = 1; i < cword; i++)); do
    word=${COMP_WORDS[i]}
    if ((skip)); then skip=0; continue; fi
    if ((!ended)); then
      case $word in
        --) ended=1; continue ;;
        =) skip=1; continue ;;  # the value of "--name=value"
        --discover | --index-status) return ;;  # nothing to offer
        --load | --load=*) loaded=1 ;;  # a result file instead of LOCATION
      esac
      if [[ $word == -?* ]]; then
        # "--format json" takes the next word; "--format=json" arrives as three words.
        if [[ $word == --* ]]; then
          [[ $with_value == *" $word "* && ${COMP_WORDS[i+1]} != = ]] && skip=1
        else
          # A cluster such as -lj takes the next word when its first letter with a
          # value is its last letter.
          local letters=${word#-}
          local before=${letters%%[ajUA]*}
          ((${#before} == ${#letters} - 1)) && skip=1
        fi
        continue
      fi
    fi
    positional=$((positional + 1))
  done
  # PATTERN is a mask, and nothing comes after LOCATION
  ((positional == 1 && !loaded)) || return
  # Local folders only: \\host and smb:// locations match none, so they are left to the
  # user (and with ":" among the COMP_WORDBREAKS, "smb://host" arrives as three words).
  compopt -o filenames 2>/dev/null
  COMPREPLY=($(compgen -d -- "$cur") $(compgen -W network -- "$cur"))
} &&
  complete -F _lanternquest_cli lanternquest-cli
