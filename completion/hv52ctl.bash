# Bash completion of hv52ctl: commands, options, module kinds, reset entries,
# relay commands, signal types, sources and file names.
# Installed as share/bash-completion/completions/hv52ctl; to try it from the
# source tree: source completion/hv52ctl.bash

# The kinds and texts hv52ctl takes as they stand (the windows' lists).
_hv52ctl_commands="read set reset save apply watch scan commission verify"
_hv52ctl_kinds="t516 t540 t528"
_hv52ctl_options="--port --device --tcp --modbus-tcp --connect-timeout --speed --address --timeout
--json --interval --speeds --addresses --scan-timeout --list --check --record --site --operator
--from-scan --settings --from-record --lines -h --help --version"
_hv52ctl_speeds="1200 2400 4800 9600 19200 38400 57600 115200"
_hv52ctl_relay_commands="alarm host operate release 报警输出 上位机控制 控制继电器动作 控制继电器恢复"
_hv52ctl_sources="平均电流 A相电流 B相电流 C相电流 平均相电压 A相电压 B相电压 C相电压 平均线电压
AB线电压 BC线电压 CA线电压 总有功功率 A相有功功率 B相有功功率 C相有功功率 总无功功率 A相无功功率
B相无功功率 C相无功功率 总视在功率 A相视在功率 B相视在功率 C相视在功率 总功率因数 A相功率因数
B相功率因数 C相功率因数 频率 关闭报警"
# Options that take the next word as their value.
_hv52ctl_valued=" --port --device --tcp --modbus-tcp --connect-timeout --speed --address --timeout
 --interval --speeds --addresses --scan-timeout --record --site --operator --from-scan --settings
 --from-record --lines --type --source --lower --upper "

# Sets COMPREPLY to the lines of $1 that start with $cur, each quoted for the
# command line (the signal types hold a blank).
_hv52ctl_reply() {
    local line
    COMPREPLY=()
    while IFS= read -r line; do
        [ -n "$line" ] || continue
        [[ $line == "$cur"* ]] || continue
        COMPREPLY+=("$(printf '%q' "$line")")
    done <<<"$1"
}

_hv52ctl_words() {
    printf '%s\n' $1
}

# The reset entries of a kind, as `hv52ctl reset KIND --list` prints them
# (it opens no port): their positions and their texts.
_hv52ctl_resets() {
    local program=$1 kind=$2
    "$program" reset "$kind" --list 2>/dev/null | while read -r position text; do
        printf '%s\n%s\n' "$position" "$text"
    done
}

# The value of --lines: port:N, device:PATH, tcp:HOST:PORT and
# modbus_tcp:HOST:PORT, comma-separated. Bash splits words at ":", so the
# word is taken from the command line itself, and each reply is cut to the
# part after the word's last ":" or "=" (the part bash replaces).
_hv52ctl_lines() {
    local word=$1 head tail place path
    head=${word%,*}
    tail=${word##*,}
    if [ "$head" = "$word" ]; then head=; else head+=,; fi
    local replies=()
    if [[ $tail == device:* ]]; then
        for path in $(compgen -f -- "${tail#device:}"); do
            replies+=("${head}device:$path")
        done
    else
        for place in port: device: tcp: modbus_tcp:; do
            [[ $place == "$tail"* ]] && replies+=("$head$place")
        done
    fi
    local cut=${word%"${word##*[:=]}"}
    COMPREPLY=()
    for place in "${replies[@]}"; do
        COMPREPLY+=("${place#"$cut"}")
    done
    compopt -o nospace 2>/dev/null
}

_hv52ctl() {
    local cur prev i word
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]}
    command -v "$program" >/dev/null 2>&1 || program=hv52ctl

    # --lines LIST, its words split at ":" by bash: the line up to the cursor.
    local typed=${COMP_LINE:0:COMP_POINT}
    local typed_word=${typed##*[[:space:]]}
    local typed_before=${typed%"$typed_word"}
    typed_before=${typed_before%"${typed_before##*[![:space:]]}"}
    if [ "${typed_before##*[[:space:]]}" = --lines ]; then
        _hv52ctl_lines "$typed_word"
        return
    fi

    # The value of an option.
    case $prev in
    --speed | --speeds)
        _hv52ctl_reply "$(_hv52ctl_words "$_hv52ctl_speeds")"
        return
        ;;
    --device)
        COMPREPLY=($(compgen -f -- "${cur:-/dev/tty}"))
        compopt -o filenames 2>/dev/null
        return
        ;;
    --record | --from-scan | --from-record)
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
        return
        ;;
    --site)
        # scan --site names a site plan (a file); elsewhere it is the
        # site's name in the record, free text.
        local j
        for ((j = 1; j < ${#COMP_WORDS[@]}; j++)); do
            if [ "$j" -ne "$COMP_CWORD" ] && [ "${COMP_WORDS[j]}" = scan ]; then
                COMPREPLY=($(compgen -f -- "$cur"))
                compopt -o filenames 2>/dev/null
                return
            fi
        done
        return
        ;;
    --settings)
        _hv52ctl_reply "$(printf '%s=\n' $_hv52ctl_kinds)"
        compopt -o nospace 2>/dev/null
        return
        ;;
    --type)
        _hv52ctl_reply $'4-20 mA\n0- 5 V\n4-20mA\n0-5V'
        return
        ;;
    --source)
        _hv52ctl_reply "$(_hv52ctl_words "$_hv52ctl_sources"; seq 0 29)"
        return
        ;;
    --port | --tcp | --modbus-tcp | --connect-timeout | --address | --timeout | --interval | \
        --addresses | --scan-timeout | --operator | --lower | --upper)
        return
        ;;
    esac

    # The words after the command, options and their values left out.
    local args=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $word == -* ]]; then
            [[ $_hv52ctl_valued == *" $word "* ]] && ((i++))
            continue
        fi
        args+=("$word")
    done

    if [[ $cur == -* ]]; then
        local options=$_hv52ctl_options
        [ "${args[0]:-}" = set ] && [ "${args[2]:-}" = analog ] && options+=" --type --source --lower --upper"
        _hv52ctl_reply "$(_hv52ctl_words "$options")"
        return
    fi

    local command=${args[0]:-}
    local n=${#args[@]}
    if [ "$n" -eq 0 ]; then
        _hv52ctl_reply "$(_hv52ctl_words "$_hv52ctl_commands")"
        return
    fi
    local kind=${args[1]:-}
    case $command in
    read | watch)
        [ "$n" -eq 1 ] && _hv52ctl_reply "$(_hv52ctl_words "$_hv52ctl_kinds")"
        ;;
    save | apply)
        if [ "$n" -eq 1 ]; then
            _hv52ctl_reply "$(_hv52ctl_words "$_hv52ctl_kinds")"
        elif [ "$n" -eq 2 ]; then
            COMPREPLY=($(compgen -f -- "$cur"))
            compopt -o filenames 2>/dev/null
        fi
        ;;
    reset)
        if [ "$n" -eq 1 ]; then
            _hv52ctl_reply "$(_hv52ctl_words "$_hv52ctl_kinds")"
        elif [ "$n" -eq 2 ]; then
            _hv52ctl_reply "$(_hv52ctl_resets "$program" "$kind")"
        fi
        ;;
    set)
        case $n in
        1) _hv52ctl_reply $'t516\nt528' ;;
        2) if [ "$kind" = t516 ]; then _hv52ctl_reply $'relay\nanalog'; else _hv52ctl_reply relay; fi ;;
        3) if [ "${args[2]}" = analog ]; then _hv52ctl_reply $'1\n2\n3'; else _hv52ctl_reply $'1\n2'; fi ;;
        4) [ "${args[2]}" = relay ] && _hv52ctl_reply "$(_hv52ctl_words "$_hv52ctl_relay_commands")" ;;
        esac
        ;;
    commission | verify)
        if [ "$n" -eq 1 ]; then
            COMPREPLY=($(compgen -f -- "$cur"))
            compopt -o filenames 2>/dev/null
        fi
        ;;
    esac
}

complete -F _hv52ctl hv52ctl
