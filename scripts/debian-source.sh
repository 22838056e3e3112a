# Sourced by the scripts that compile a Debian library into the Windows programs
# (fetch-sqlite.sh, fetch-xlsxwriter.sh): one way of fetching a Debian source package.
#
# prepare_debian_source WHAT OUT SOURCE_PACKAGE LINUX_PACKAGE FILE...
#   Ends the calling script (status 0), saying that WHAT is already in OUT, when OUT holds
#   every FILE (paths inside OUT): a fetch is done once. Otherwise makes a work folder, named
#   in the variable `work` and removed when the script exits, and fetches SOURCE_PACKAGE
#   into it with fetch_debian_source.
#
# fetch_debian_source SOURCE_PACKAGE LINUX_PACKAGE WORK_DIR
#   Downloads the source package SOURCE_PACKAGE into WORK_DIR, in the version that the
#   installed LINUX_PACKAGE (the one the Linux build links) was built from, where the
#   archive has it. apt-get runs under a private configuration in WORK_DIR (deb-src lists of
#   its own made from the system's Debian sources), so the system's apt sources and lists
#   are left as they are; apt checks the files against the archive's signed index.

fetch_debian_source() {
  local source_package=$1 linux_package=$2 work=$3
  mkdir -p "$work/parts" "$work/lists/partial" "$work/cache/archives/partial"
  # The same archives and suites as the system's own Debian sources, as source lists.
  local found=no list
  for list in /etc/apt/sources.list.d/*.sources; do
    [ -f "$list" ] || continue
    sed -e 's/^Types:.*/Types: deb-src/' -e '/^#/d' "$list" > "$work/parts/$(basename "$list")"
    found=yes
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list > "$work/parts/system.list"
    [ -s "$work/parts/system.list" ] && found=yes
  fi
  if [ "$found" = no ]; then
    echo "$(basename "$0"): no apt sources found in /etc/apt to fetch the $source_package source package from" >&2
    return 1
  fi
  local apt_options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/parts"
                     -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache")
  apt-get "${apt_options[@]}" update -q
  local version
  version=$(dpkg-query -W -f='${source:Version}' "$linux_package" 2>/dev/null || true)
  (cd "$work" &&
     apt-get "${apt_options[@]}" source --download-only -q "$source_package${version:+=$version}")
}

prepare_debian_source() {
  local what=$1 out=$2 source_package=$3 linux_package=$4
  shift 4
  local file present=yes
  for file in "$@"; do
    [ -f "$out/$file" ] || present=no
  done
  if [ "$present" = yes ]; then
    echo "$what already in $out"
    exit 0
  fi
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  fetch_debian_source "$source_package" "$linux_package" "$work"
}
