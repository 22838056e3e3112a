#!/usr/bin/env bash
# Sourced by install-deps.sh and install-test-deps.sh: installs the Debian packages given,
# from Debian's archive, with sudo when not root. Packages already installed are not asked
# for again, and when all of them are, nothing is downloaded (not even the package lists).

run_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' \
      || missing+=("$package")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "All ${#} packages are installed."
    return 0
  fi
  echo "Installing ${#missing[@]} of ${#} packages: ${missing[*]}"
  run_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  run_as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}
