# Sourced by the end-to-end tables of quarn-update (Linux and Wine), after they have set python
# and the path of this folder's cli_checks.py in cli_checks: the options of a table row and the
# judging of what a run left behind.

# read_case_options <name> <options...> -- <program arguments...>
# Sets, in the caller's scope: devices, package, sim_options, expect, stdout_is, json, events,
# image, interrupt and signal (with their defaults), and case_args, the arguments after "--".
#   --devices "<product>|..."  the devices of the row (the table says what they mean)
#   --package "<options>"      make_sample_package.py options (default --size 3000)
#   --sim "<options>"          simulator options
#   --expect <text>            text that stdout or stderr must hold
#   --stdout <text>            stdout must be exactly this (printf %b)
#   --json                     every line of stdout is JSON, the last the result
#   --event '<JSON object>'    some line of stdout holds every member of this object (repeatable)
#   --image                    the simulator received exactly QUARN.bin
#   --interrupt [--signal S]   Ctrl-C (SIGINT, or signal S) once blocks flow; then exit 130 at
#                              once and the port free
read_case_options() {
  local name=$1
  shift
  devices="Zentrika QUARN PD Tester" package="--size 3000" sim_options="" expect="" stdout_is=""
  json=0 image=0 interrupt=0 signal=INT
  events=()
  while [[ $1 != -- ]]; do
    case $1 in
      --devices) devices=$2; shift 2 ;;
      --package) package=$2; shift 2 ;;
      --sim) sim_options=$2; shift 2 ;;
      --expect) expect=$2; shift 2 ;;
      --stdout) stdout_is=$2; shift 2 ;;
      --json) json=1; shift ;;
      --event) events+=("$2"); shift 2 ;;
      --image) image=1; shift ;;
      --interrupt) interrupt=1; shift ;;
      --signal) signal=$2; shift 2 ;;
      *) echo "$name: unknown option $1" >&2; exit 2 ;;
    esac
  done
  shift
  case_args=("$@")
}

# Waits until the simulator has taken a data block (a 63-byte message) into its log.
await_first_block() {  # await_first_block <simulator log>
  for _ in $(seq 600); do
    grep -q 'rx \[63\]' "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# judge_run <case dir> <exit code> <expected exit>: appends what is wrong to the caller's why.
# The case dir holds out and err of the run, package/QUARN.bin and the simulator's received.bin.
judge_run() {
  local dir=$1 code=$2 expected_exit=$3
  [[ $code == "$expected_exit" ]] || why+="exit $code, expected $expected_exit; "
  [[ -z $expect ]] || grep -qF -- "$expect" "$dir/out" "$dir/err" || why+="no '$expect'; "
  if [[ -n $stdout_is ]] && [[ $(cat "$dir/out") != "$(printf '%b' "$stdout_is")" ]]; then
    why+="stdout is not exactly '$stdout_is'; "
  fi
  if ((json)) && ! "$python" "$cli_checks" json "$dir/out" "$expected_exit" >"$dir/json" 2>&1; then
    why+="$(cat "$dir/json"); "
  fi
  local event
  for event in "${events[@]}"; do
    "$python" "$cli_checks" holds "$dir/out" "$event" >"$dir/holds" 2>&1 || why+="$(cat "$dir/holds"); "
  done
  if ((image)) && ! cmp -s "$dir/package/QUARN.bin" "$dir/received.bin"; then
    why+="the tester did not receive QUARN.bin; "
  fi
}

# judge_port_free <port path>: appends to why unless the port is free (cli_checks port-free).
judge_port_free() {
  "$python" "$cli_checks" port-free "$1" >"$1.check" 2>&1 || why+="port not free: $(tail -1 "$1.check"); "
}
