# Sourced by run.sh: kestrelon_devices_given ARG... is true when the
# arguments name a device (DEVICE_A or DEVICE_B), read as kestrelon reads its
# command line: options and devices in any order, "--" ends the options.
# Every long option takes a value (attached by "=" or as the next argument)
# except --help, --version and --append; of the short ones, -a, -b and -s take the rest
# of their argument or the next one.
kestrelon_devices_given() {
  local cluster
  while [ $# -gt 0 ]; do
    case $1 in
      --)
        [ $# -gt 1 ]
        return ;;
      --a | --ap | --app | --appe | --appen | --append) ;;
      --*=* | --h | --he | --hel | --help | --ve | --ver | --vers | --versi | --versio | --version) ;;
      --*)
        [ $# -gt 1 ] && shift ;;
      -?*)
        cluster=${1#-}
        while [ -n "$cluster" ]; do
          case $cluster in
            [abs]) [ $# -gt 1 ] && shift; break ;;
            [abs]*) break ;;
          esac
          cluster=${cluster#?}
        done ;;
      *)
        return 0 ;;
    esac
    shift
  done
  return 1
}
