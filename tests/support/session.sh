# Sourced by the scripts that run a desktop session of their own.
#
# start_session_bus <folder>: starts a dbus-daemon listening in <folder>, where it also writes its
# address (bus.address) and log (dbus.log); sets bus_pid. Anyone on the bus may own any name and
# read every message, as the test panel needs to watch what the program sends.
start_session_bus() {
    local dir=$1
    cat >"$dir/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$dir</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile --print-address=1 \
        >"$dir/bus.address" 2>"$dir/dbus.log" &
    bus_pid=$!
}

# stop_processes <pid>...: asks each to end, the last started first, gives each five seconds and
# then kills what is left.
stop_processes() {
    local i pid
    for ((i = $#; i >= 1; i--)); do kill "${!i}" 2>/dev/null || true; done
    for pid in "$@"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    done
}
