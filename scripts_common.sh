# shellcheck shell=bash
# Shared by run.sh and test.sh: installs what is missing and configures a build.
KESTA_PACKAGES="build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
libreadline-dev libncurses-dev libx11-dev xvfb xdotool x11-apps xfonts-base ghostscript clang libtiff-tools"

kesta_install_missing() {
  local missing=()
  for p in $KESTA_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

kesta_jobs() { nproc 2>/dev/null || echo 2; }
