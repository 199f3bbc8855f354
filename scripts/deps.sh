# Sourced by the other scripts: installs the Debian packages Tarvok needs when any is missing.
TARVOK_PACKAGES=(
  cmake ninja-build g++ pkg-config git
  qt6-base-dev qt6-webengine-dev libqt6opengl6-dev
  libcurl4-openssl-dev libssl-dev openssl
  libsimdjson-dev libcmark-gfm-dev libcmark-gfm-extensions-dev
  libstb-dev libutf8proc-dev libcpp-httplib-dev
  libjs-katex fonts-katex libjs-highlight.js
  libgtest-dev libgmock-dev libbenchmark-dev ripgrep nghttp2-server
  nodejs npm xvfb xauth x11-utils fonts-noto-color-emoji desktop-file-utils
  tinyproxy microsocks
)

# The user's data root, by the rule the program follows when its own folder cannot hold
# its files: an absolute $XDG_DATA_HOME, else ~/.local/share (a relative value is ignored).
tarvok_data_home() {
  case "${XDG_DATA_HOME:-}" in
    /*) echo "$XDG_DATA_HOME" ;;
    *) echo "$HOME/.local/share" ;;
  esac
}

tarvok_missing_packages() {
  local missing=() p
  for p in "${TARVOK_PACKAGES[@]}" "$@"; do
    # Node.js from its own repository carries npm; Debian's npm package would conflict with it.
    [ "$p" = npm ] && command -v npm >/dev/null && continue
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]}"
}

tarvok_install_packages() {
  local missing
  missing=$(tarvok_missing_packages "$@")
  [ -z "$missing" ] && return 0
  echo "Installing Debian packages: $missing"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then sudo="sudo"; else
      echo "Not root and no sudo: install these packages yourself: $missing" >&2; return 1
    fi
  fi
  $sudo apt-get update -qq || return 1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing || return 1
}
