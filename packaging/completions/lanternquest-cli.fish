# fish completion for lanternquest-cli: options, the values of --format, --sort, --threads
# and --attributes, files for the options that name a file, and folders (or "network")
# for LOCATION. Server names and smb:// URLs are left to the user.

# LOCATION: the second argument that is not an option or an option's value.
function __lanternquest_cli_wants_location
    set -l words (commandline -opc)
    set -e words[1]
    set -l positional 0
    set -l skip 0
    for word in $words
        if test $skip = 1
            set skip 0
            continue
        end
        switch $word
            case --discover --index-status
                return 1
            case --attributes --size-from --size-to --time-from --time-to --threads --exclude --format --save --export --load --sort --user --authentication-file --forget-index -a -j -U -A
                set skip 1
            case '-*'
            case '*'
                set positional (math $positional + 1)
        end
    end
    test $positional = 1
    and not string match -q -r '^(\\\\|smb:)' -- (commandline -ct)
end

complete -c lanternquest-cli -f
complete -c lanternquest-cli -n __lanternquest_cli_wants_location -a '(__fish_complete_directories (commandline -ct))'
complete -c lanternquest-cli -n __lanternquest_cli_wants_location -a network -d 'Entire network'

complete -c lanternquest-cli -s a -l attributes -x -a 'RAD RHSAD R H S A D' -d 'Permitted attributes among R H S A D'
complete -c lanternquest-cli -l size-from -x -d 'Smallest size in bytes, inclusive'
complete -c lanternquest-cli -l size-to -x -d 'Largest size in bytes, inclusive'
complete -c lanternquest-cli -l time-from -x -d 'Earliest modification, YYYY-MM-DD[ HH:MM[:SS]]'
complete -c lanternquest-cli -l time-to -x -d 'Latest modification, same form'
complete -c lanternquest-cli -s j -l threads -x -a '1 2 3 4 5 6 7 8 9 10 11 12' -d 'Folders searched at once'
complete -c lanternquest-cli -s l -l long -d 'Tab-separated name, size, date, time, attributes'
complete -c lanternquest-cli -s 0 -l print0 -d 'End each name with NUL'
complete -c lanternquest-cli -l exclude -x -d 'Leave out names that match these masks'
complete -c lanternquest-cli -l one-file-system -d 'Stay on the file system of a local location'
complete -c lanternquest-cli -l format -x -a 'plain json csv' -d 'Output form'
complete -c lanternquest-cli -l save -r -F -d 'Write a result file'
complete -c lanternquest-cli -l export -r -F -d 'Write an HTML or XML report'
complete -c lanternquest-cli -l load -r -F -d 'Print a result file instead of searching'
complete -c lanternquest-cli -l sort -x -a 'path name size date time attr -path -name -size -date -time -attr' -d 'Sort key'
complete -c lanternquest-cli -s U -l user -x -d 'User for the server, [DOMAIN\\]USER'
complete -c lanternquest-cli -s A -l authentication-file -r -F -d 'File with username, password, domain lines'
complete -c lanternquest-cli -l discover -d 'List the machines of the network'
complete -c lanternquest-cli -l indexed -d 'Answer the search from an index'
complete -c lanternquest-cli -l update-index -d 'Build or refresh the index of each location'
complete -c lanternquest-cli -l index-status -d 'List the indexed locations'
complete -c lanternquest-cli -l forget-index -x -a '(__fish_complete_directories) network' -d 'Remove the index of a location'
complete -c lanternquest-cli -s h -l help -d 'Print the options'
complete -c lanternquest-cli -l version -d 'Print the version'
