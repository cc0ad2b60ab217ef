# The Windows half of tools/demo/run (sourced by it): torvane-update.exe under
# Wine on the virtual display of the project's Wine session, played by
# torvane-robot, with pictures taken of the X display as the robot reports
# each window.

# Wine's draw of a window needs a moment after its texts change; a picture
# taken at once may show the old texts.
shot_settle=0.15
# How long the robot leaves the message box up: time for its picture.
box_hold=2

windows_prepare() {
    local missing=() tool
    for tool in x86_64-w64-mingw32-g++-posix wine Xvfb import xdotool; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "demo: the Windows demo needs ${missing[*]}: see README.md, \"Windows\", for the packages" >&2
        exit 1
    fi
    if [ -z "${TV_DEMO_WIN_BIN-}" ]; then
        echo "== building the Windows client (cmake --preset windows)"
        quiet_build Windows bash -c 'cmake --preset windows &&
            cmake --build --preset windows -j2 --target torvane-update torvane-robot stand-in-game'
    fi
    win_client="$win_bin/src/torvane-update.exe"
    win_robot="$win_bin/tools/robot/torvane-robot"
    win_game="$win_bin/tests/windows/stand-in-game.exe"
    wine_run=("$root/tools/wine/run" --root "$win_bin/wine")
    echo "== starting the Wine session (a first start sets up its prefix: about 15 s)"
    "${wine_run[@]}" --start
}

# "Z:\..." for a Linux path, as Wine shows it to the program.
windows_path() {
    local p=${1//\//\\}
    printf 'Z:%s' "$p"
}

# The newest visible window whose title matches REGEX, saved to FILE; the
# picture is of the window alone (Wine draws its caption and frame itself).
shoot() {
    local regex=$1 file=$2 id
    sleep "$shot_settle"
    id=$("${wine_run[@]}" xdotool search --onlyvisible --name "$regex" 2>/dev/null | tail -n 1) || true
    if [ -z "$id" ] || ! "${wine_run[@]}" import -window "$id" "$file" 2>/dev/null; then
        echo "   (no picture: no window \"$regex\" to take)" >&2
        return 0
    fi
    echo "   [picture: $file]"
}

# Starts the robot (options in robot_opts) on the client with ARGS in the
# background: its stdout and stderr go to files under demo/, its stdin comes
# from a pipe this script holds (descriptor 7).
robot_start() {
    local name=$1
    shift
    robot_out="$demo/$name.out"
    robot_err="$demo/$name.err"
    : >"$robot_out"
    : >"$robot_err"
    rm -f "$demo/answer"
    mkfifo "$demo/answer"
    exec 7<>"$demo/answer"
    (cd "$work" && exec "$win_robot" --timeout 120 "${robot_opts[@]}" \
        "$(windows_path "$win_client")" "$@") \
        <&7 >"$robot_out" 2>"$robot_err" &
    robot_pid=$!
}

# Follows the robot's output until it ends, printing it and acting on what it
# reports: a picture of each window worth one, and the player's answer to
# the server list. Sets robot_status.
robot_follow() {
    local out_line="" err_line="" line pct answered=false taken_transfer=false panel=none done=false
    exec 5<"$robot_out" 6<"$robot_err"
    while :; do
        kill -0 "$robot_pid" 2>/dev/null || done=true
        # Whole lines only; a partial one (the list's prompt) waits in *_line.
        while IFS= read -r line <&5; do
            line=$out_line$line
            out_line=""
            echo "   $line"
            $window_shots || continue
            if [[ $line =~ \ -\ ([0-9]+)\ %(\ |$) ]] && ! $taken_transfer; then
                pct=${BASH_REMATCH[1]}
                # On loopback the transfer is over before a picture is
                # taken: the server is held still for it (what it had sent
                # still arrives, then the window waits).
                if [ "$pct" -ge 5 ] && [ "$pct" -le 90 ] && [ -n "$server_pid" ]; then
                    kill -STOP "$server_pid"
                    sleep 0.5
                    shoot '^Torvane Update' "$shots/1-transfer.png"
                    kill -CONT "$server_pid"
                    taken_transfer=true
                fi
            elif [[ $line == "파일을 갱신중"* ]] && [ "$panel" != progress ]; then
                # The panel at once, then again when its own progress shows
                # (after a second of install).
                if [[ $line == *" files - "* ]]; then
                    shoot '^Torvane Update' "$shots/2-please-wait.png"
                    panel=progress
                elif [ "$panel" = none ]; then
                    shoot '^Torvane Update' "$shots/2-please-wait.png"
                    panel=bare
                fi
            fi
        done
        out_line+=$line
        while IFS= read -r line <&6; do
            line=$err_line$line
            err_line=""
            echo "   $line" >&2
            # "CAPTION: ICON: TEXT": the box has that caption.
            if [[ $line =~ ^([^:]+):\ (error|warning|information):\  ]]; then
                shoot "^${BASH_REMATCH[1]}\$" "$shots/4-message-box.png"
            fi
        done
        err_line+=$line
        if ! $answered && [[ $out_line == "Number (Enter:"* || $out_line == "Enter to go on"* ]]; then
            echo "   $out_line"
            shoot '^Server Select$' "$shots/3-server-select.png"
            echo "   (the player presses Enter: the first server)"
            printf '\n' >&7
            answered=true
            out_line=""
        fi
        $done && break
        sleep 0.02
    done
    exec 5<&- 6<&- 7>&-
    robot_status=0
    wait "$robot_pid" || robot_status=$?
}

windows_run() {
    shots="$demo/screenshots"
    mkdir -p "$shots"
    echo "== running torvane-update.exe under Wine in $work (server on 127.0.0.1:$port), played by torvane-robot"
    window_shots=true
    robot_opts=()
    robot_start update "$@"
    robot_follow
    echo "== torvane-update.exe exited with $robot_status"
    local launched="$work/game/launched.txt"
    for _ in $(seq 1 50); do
        [ -f "$launched" ] && break
        sleep 0.1
    done
    if [ -f "$launched" ]; then
        echo "== the game (a stand-in) was started:"
        # Its record: the working directory, then one <argument> a line.
        awk 'NR == 1 { print "  working directory: " $0; next }
             { print "    argument " NR - 1 ": [" substr($0, 2, length($0) - 2) "]" }' "$launched"
    else
        echo "== the game was not started"
    fi

    stop_server
    echo "== once more with the server gone: the player is told (the robot leaves the box up ${box_hold} s)"
    window_shots=false
    robot_opts=(--hold "$box_hold")
    robot_start no-server "$@"
    robot_follow
    echo "== torvane-update.exe exited with $robot_status"
}

windows_report() {
    echo "== pictures in $shots:"
    local f
    for f in "$shots"/*.png; do
        [ -e "$f" ] || continue
        printf '  %-22s %s\n' "$(basename "$f")" "$(identify -format '%wx%h' "$f" 2>/dev/null)"
    done
}
