# Installs the Debian packages a command needs when any is missing.
# Sourced by scripts/demo and scripts/test: need_packages PACKAGE...
need_packages() {
  local missing=() sudo=""
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  case " ${missing[*]} " in
    *:i386*|*" wine32 "*)
      dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
  esac
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

HOST_PACKAGES=(cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev python3)
WINDOWS_PACKAGES=(g++-mingw-w64-i686 binutils-mingw-w64-i686)
WINE_PACKAGES=(wine wine32)
