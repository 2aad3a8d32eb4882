#!/usr/bin/env python3
"""The options lanternquest-cli --help lists, against those its manual page and its bash,
zsh and fish completions know: the same long names, the same short letters, and a value
where --help shows one. Every difference is reported as one line naming the option and
the file it is missing from or differs in. The zsh and fish files must also parse, where
those shells are installed (their options are read from the files' text).

Usage: check_options.py CLI MAN_PAGE BASH ZSH FISH
"""
import re
import shutil
import subprocess
import sys

# "  -a, --attributes LETTERS  text" or "      --long  text": an option line of --help,
# and the first line of an option's entry in the manual page once its roff is undone.
OPTION_LINE = re.compile(r"^\s*(?:-(?P<short>[A-Za-z0-9]), )?--(?P<long>[a-z0-9][a-z0-9-]*)"
                         r"(?P<value>[ =](?! )\S+)?")


def help_options(cli):
    text = subprocess.run([cli, "--help"], check=True, capture_output=True, text=True).stdout
    options = {}
    for line in text.splitlines():
        match = OPTION_LINE.match(line)
        if match:
            options[match["long"]] = (match["short"], match["value"] is not None)
    return options


def man_options(path):
    """The ".TP" entries of the OPTIONS section."""
    lines = open(path, encoding="utf-8").read().splitlines()
    options, in_section = {}, False
    for i, line in enumerate(lines):
        if line.startswith(".SH"):
            in_section = line.split(None, 1)[1:] == ["OPTIONS"]
        elif in_section and line == ".TP" and i + 1 < len(lines):
            plain = re.sub(r"\\f[BIRP]", "", lines[i + 1]).replace("\\-", "-").replace("\\e", "\\")
            match = OPTION_LINE.match(plain)
            if match:
                options[match["long"]] = (match["short"], match["value"] is not None)
    return options


def bash_options(path, reference, problems):
    """What the function offers after "--", and the options it treats as taking a value
    (long ones, short ones, and the letters that end a cluster such as -lj). It offers no
    short options, so only their values are compared."""
    script = (f'source "{path}"; COMP_WORDS=(lanternquest-cli --); COMP_CWORD=1; '
              '_lanternquest_cli; printf "%s\\n" "${COMPREPLY[@]}"')
    offered = subprocess.run(["bash", "-c", script], check=True, capture_output=True,
                             text=True).stdout.split()
    text = open(path, encoding="utf-8").read()
    with_value = re.search(r"with_value='([^']*)'", text).group(1).split()
    cluster = set(re.search(r"%%\[(\w+)\]\*", text).group(1))
    value_shorts = {short for short, value in reference.values() if short and value}
    listed = {w[1] for w in with_value if not w.startswith("--")}
    for name, letters in (("with_value", listed), ("cluster letters [...]", cluster)):
        for short in sorted(value_shorts ^ letters):
            problems.append(f"-{short}: {'takes a value' if short in value_shorts else 'takes no value'} "
                            f"in --help, {'missing from' if short in value_shorts else 'listed in'} "
                            f"the bash completion's {name} ({path})")
    return {o[2:]: (reference.get(o[2:], (None,))[0], o in with_value) for o in offered}


def zsh_options(path):
    """The _arguments specs: {-a+,--attributes=}'[...]' or '--name=[...]'."""
    text = open(path, encoding="utf-8").read()
    options = {}
    for short, long, value in re.findall(r"\{-(\w)\+?,--([a-z0-9-]+)(=?)\}", text):
        options[long] = (short, value == "=")
    for long, value in re.findall(r"'(?:\([^)]*\))?\*?--([a-z0-9-]+)(=?)\[", text):
        options.setdefault(long, (None, value == "="))
    return options


def fish_options(path):
    options = {}
    for line in open(path, encoding="utf-8"):
        match = re.match(r"complete -c lanternquest-cli (?:-s (\w) )?-l ([a-z0-9-]+)( -[xr])?", line)
        if match:
            options[match[2]] = (match[1], match[3] is not None)
    return options


def compare(reference, other, where, problems):
    for long, (short, value) in reference.items():
        if long not in other:
            problems.append(f"--{long}: listed by --help, missing from {where}")
            continue
        other_short, other_value = other[long]
        if short != other_short:
            problems.append(f"--{long}: short form {'-' + short if short else 'none'} in --help, "
                            f"{'-' + other_short if other_short else 'none'} in {where}")
        if value != other_value:
            problems.append(f"--{long}: {'takes a value' if value else 'takes no value'} in --help, "
                            f"{'none' if value else 'one'} in {where}")
    for long in other.keys() - reference.keys():
        problems.append(f"--{long}: in {where}, not listed by --help")


def main():
    cli, man, bash, zsh, fish = sys.argv[1:6]
    reference = help_options(cli)
    if len(reference) < 10:
        sys.exit(f"only {len(reference)} options read from --help: has its layout changed?")
    problems = []
    compare(reference, man_options(man), f"the manual page ({man})", problems)
    compare(reference, bash_options(bash, reference, problems), f"the bash completion ({bash})", problems)
    compare(reference, zsh_options(zsh), f"the zsh completion ({zsh})", problems)
    compare(reference, fish_options(fish), f"the fish completion ({fish})", problems)
    for shell, check in (("zsh", ["zsh", "-n", zsh]), ("fish", ["fish", "--no-execute", fish])):
        if shutil.which(shell):
            parsed = subprocess.run(check, capture_output=True, text=True)
            if parsed.returncode != 0:
                problems.append(f"{check[-1]}: {shell} cannot parse it: {parsed.stderr.strip()}")
        else:
            print(f"{shell} is not installed: {check[-1]} not parsed")
    print("\n".join(problems) if problems else f"{len(reference)} options, the same everywhere")
    sys.exit(1 if problems else 0)


main()
