#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
packages=(build-essential cmake binutils pkg-config freetds-dev rapidjson-dev libcli11-dev libgtest-dev
          libgmock-dev libbenchmark-dev libedit-dev python3 locales valgrind clang-14 libfuzzer-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node and npm may come from another packaging of Node (which brings npm with
# it): only a missing command asks for Debian's package.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The grid's date texts are tested under a locale whose month names and
# AM/PM differ from the C locale's: generate it when it is not there.
if ! locale -a 2>/dev/null | grep -qix 'it_IT.utf8'; then
  echo "generating locale it_IT.UTF-8"
  localedef -i it_IT -f UTF-8 it_IT.UTF-8
fi
