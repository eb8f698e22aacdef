# Bash completion of quorvexctl: subcommands, their words and options, and
# the COMn ports present (installed as
# share/bash-completion/completions/quorvexctl).
_quorvexctl() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        # Without the bash-completion package.
        words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
        cur=${words[cword]} prev=${words[cword - 1]}
    fi

    local global="--head --supply --counter --json --quiet --log --verbose --version --help"
    local subcommands="ports scan identify status ramp move home calibration display batch help"

    case $prev in
        --head | --supply | --counter)
            # The ports quorvexctl itself lists, by their COMn.
            COMPREPLY=($(compgen -W "$(quorvexctl ports 2>/dev/null | sed -n 's/^\(COM[0-9]*\).*/\1/p')" -- "$cur"))
            return
            ;;
        --log | --csv | --aperture | --spectral)
            if declare -F _filedir >/dev/null; then _filedir; else COMPREPLY=($(compgen -f -- "$cur")); fi
            return
            ;;
        --current | --voltage | --seconds)
            return
            ;;
    esac

    # The subcommand and its first word, past the options and their values.
    local i subcommand="" action=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --head | --supply | --counter | --log | --csv | --aperture | --spectral | --current | --voltage | --seconds)
                ((i++))
                ;;
            -*) ;;
            *)
                if [[ -z $subcommand ]]; then
                    subcommand=${words[i]}
                elif [[ -z $action ]]; then
                    action=${words[i]}
                fi
                ;;
        esac
    done

    if [[ -z $subcommand ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$global" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$subcommands" -- "$cur"))
        fi
        return
    fi

    local words_here=""
    case $subcommand in
        ramp) [[ -z $action ]] && words_here="up down" || words_here="--seconds --current --voltage" ;;
        calibration)
            case $action in
                "") words_here="download upload save" ;;
                download) words_here="--csv --aperture --spectral --force" ;;
                upload) words_here="--aperture --spectral" ;;
            esac
            ;;
        display) words_here="--clear" ;;
        batch | -) words_here="--keep-going" ;;
        help) [[ -z $action ]] && words_here="$subcommands" ;;
    esac
    COMPREPLY=($(compgen -W "$words_here $([[ $cur == -* ]] && echo "$global")" -- "$cur"))
}
complete -F _quorvexctl quorvexctl
