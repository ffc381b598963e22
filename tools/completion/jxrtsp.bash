# bash completion for jxrtsp. The commands are listed here; each command's
# options are read from its own help (jxrtsp COMMAND --help), so a new option
# completes without a change here.
_jxrtsp()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="record probe serve demo check help"
    if [ "$COMP_CWORD" -eq 1 ]; then
        mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
        return
    fi
    local command=${COMP_WORDS[1]}
    case $prev in
        --out|-o)
            compopt -o filenames
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        --urls|--clip|--module|--progress)
            compopt -o filenames
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --auth)
            mapfile -t COMPREPLY < <(compgen -W "none basic digest" -- "$cur")
            return ;;
        --media)
            mapfile -t COMPREPLY < <(compgen -W "h264 h265 jpeg pcma pcmu aac h264+pcmu h264+aac" -- "$cur")
            return ;;
    esac
    if [ "$command" = help ]; then
        [ "$COMP_CWORD" -eq 2 ] && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
        return
    fi
    if [[ $cur == -* ]]; then
        local options
        options=$("${COMP_WORDS[0]}" "$command" --help 2>/dev/null | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u)
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    mapfile -t COMPREPLY < <(compgen -W "rtsp:// rtspu:// rtspm://" -- "$cur")
    compopt -o nospace
}
complete -F _jxrtsp jxrtsp
