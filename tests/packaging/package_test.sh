#!/bin/bash
# The Debian package as a user's system sees it, without root: made with CPack into a temporary
# folder, its contents and control fields read with dpkg-deb, unpacked into a temporary root where
# the desktop entry, file types, AppStream data, manual pages, completion and installed programs
# are tried, then installed, removed and purged with dpkg on a database of its own.
# Usage: package_test.sh BUILD_DIR   (exit 77: skipped, with the reason)
set -u
build=$(cd "$1" && pwd)
skip() { echo "SKIPPED: $*"; exit 77; }
for tool in cpack dpkg-deb dpkg-shlibdeps help2man rsvg-convert desktop-file-validate xdg-mime \
            update-mime-database update-desktop-database man; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (make package needs it; see DEB_PACKAGES)"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {  # expect DESCRIPTION COMMAND...: the command must succeed
    local what=$1; shift
    "$@" >"$tmp/out" 2>&1 || { fail "$what"; sed 's/^/    /' "$tmp/out"; }
}

cmake --build "$build" --target package_files >"$tmp/build.log" 2>&1 || { cat "$tmp/build.log"; exit 1; }
(cd "$build" && cpack --config CPackConfig.cmake -B "$tmp/deb") >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log"; exit 1; }
deb=$(ls "$tmp"/deb/tabulonix_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { cat "$tmp/cpack.log"; echo "FAIL: no tabulonix_*.deb"; exit 1; }
version=$("$build/bin/tabulonix-cli" --version | awk '{print $2}')
[ "$(basename "$deb")" = "tabulonix_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "package file name $(basename "$deb")"

# Control fields: dependencies found from the binaries.
dpkg-deb -f "$deb" Package Version Depends >"$tmp/control"
grep -q "^Package: tabulonix$" "$tmp/control" || fail "Package field"
grep -q "^Version: $version$" "$tmp/control" || fail "Version field"
for lib in libc6 libqt6widgets6 libstdc++6 libssl3 libsqlite3-0 libpq5; do
    grep -q "^Depends:.*\b$lib\b" "$tmp/control" || fail "Depends lacks $lib: $(grep Depends "$tmp/control")"
done
dpkg-deb -I "$deb" | grep -qw postinst || fail "no postinst"

# Contents.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$tmp/contents"
for path in /usr/bin/tabulonix /usr/bin/tabulonix-cli /usr/share/tabulonix/HAND-M.CUR \
            /usr/share/tabulonix/Samples/Sample.mdb /usr/share/applications/tabulonix.desktop \
            /usr/share/mime/packages/tabulonix.xml /usr/share/icons/hicolor/scalable/apps/tabulonix.svg \
            /usr/share/icons/hicolor/16x16/apps/tabulonix.png /usr/share/icons/hicolor/256x256/apps/tabulonix.png \
            /usr/share/man/man1/tabulonix.1.gz /usr/share/man/man1/tabulonix-cli.1.gz \
            /usr/share/bash-completion/completions/tabulonix-cli \
            /usr/share/metainfo/io.github.tabulonix.Tabulonix.metainfo.xml /usr/share/doc/tabulonix/copyright; do
    grep -qx "$path" "$tmp/contents" || fail "package lacks $path"
done
grep -E '^/usr/(lib|share)/.*(_test|\.a)$|/tests/' "$tmp/contents" && fail "test programs or libraries in the package"

root=$tmp/root
dpkg-deb -x "$deb" "$root"
expect "desktop-file-validate" desktop-file-validate "$root/usr/share/applications/tabulonix.desktop"
if command -v appstreamcli >/dev/null 2>&1; then
    expect "appstreamcli validate" appstreamcli validate --no-net "$root/usr/share/metainfo/io.github.tabulonix.Tabulonix.metainfo.xml"
fi

# File types and the default application, in XDG folders of the temporary root only.
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_DATA_HOME=$tmp/home/.local/share
export XDG_DATA_DIRS=$root/usr/share:/usr/share XDG_CURRENT_DESKTOP=X-Generic
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
update-mime-database "$root/usr/share/mime" >/dev/null 2>&1
update-desktop-database "$root/usr/share/applications"
for type in application/vnd.ms-access application/x-msaccess; do
    grep -q "^$type=.*tabulonix.desktop" "$root/usr/share/applications/mimeinfo.cache" ||
        fail "mimeinfo.cache does not give $type to tabulonix.desktop"
done
default=$(xdg-mime query default application/vnd.ms-access 2>&1)
[ "$default" = tabulonix.desktop ] || fail "xdg-mime default for application/vnd.ms-access: '$default'"
# The magic: an .accdb and an .mdb header are both recognised; text named .mdb is not by its content.
grep -q 'Standard ACE DB' "$root/usr/share/mime/application/vnd.ms-access.xml" 2>/dev/null ||
    grep -q 'Standard ACE DB' "$root/usr/share/mime/packages/tabulonix.xml" || fail "no ACE magic"

# Manual pages.
for page in tabulonix tabulonix-cli; do
    found=$(MANPATH=$root/usr/share/man man -w "$page" 2>&1)
    [ "$found" = "$root/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page: $found"
    zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q '^\.SH DESCRIPTION' || fail "$page(1) has no DESCRIPTION"
done
zcat "$root/usr/share/man/man1/tabulonix-cli.1.gz" | grep -q 'create.-table' || fail "tabulonix-cli(1) lacks the commands"

# The installed programs answer from the temporary root.
[ "$("$root/usr/bin/tabulonix-cli" --version)" = "tabulonix-cli $version" ] || fail "installed tabulonix-cli --version"
[ "$("$root/usr/bin/tabulonix" --version)" = "tabulonix $version" ] || fail "installed tabulonix --version"
"$root/usr/bin/tabulonix-cli" tables "$root/usr/share/tabulonix/Samples/Sample.mdb" >"$tmp/sample_tables" ||
    fail "the packaged sample does not open"

# Completion: commands, options, and the table names of the file given.
if [ -f /usr/share/bash-completion/bash_completion ]; then
    complete_words() {  # complete_words WORD... : the completions of the last word
        PATH=$root/usr/bin:$PATH bash -c '
            source /usr/share/bash-completion/bash_completion
            source "$0"
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
            _tabulonix_cli
            printf "%s\n" "${COMPREPLY[@]}"' "$root/usr/share/bash-completion/completions/tabulonix-cli" "$@"
    }
    [ "$(complete_words tabulonix-cli create-t)" = create-table ] || fail "completion of create-t"
    complete_words tabulonix-cli tables x.mdb --no- | grep -qx -- --no-sync || fail "completion of --no-"
    first=$(head -1 "$tmp/sample_tables")
    complete_words tabulonix-cli export "$root/usr/share/tabulonix/Samples/Sample.mdb" "${first:0:2}" |
        grep -qxF "$first" || fail "completion of the sample's table $first"
else
    echo "note: bash-completion is not installed; completion not tried"
fi

# Install, remove, purge with dpkg on a database and an ODBC configuration of their own.
admin=$tmp/dpkg inst=$tmp/inst
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers" "$inst" "$tmp/odbc"
: >"$admin/status"
: >"$tmp/odbc/odbcinst.ini"
export ODBCSYSINI=$tmp/odbc
dpkg_here() {
    dpkg --admindir="$admin" --instdir="$inst" --force-not-root --force-script-chrootless \
         --force-depends --force-unsafe-io --log=/dev/null "$@"
}
expect "dpkg -i" dpkg_here -i "$deb"
[ -x "$inst/usr/bin/tabulonix" ] || fail "dpkg -i did not install /usr/bin/tabulonix"
if grep -q "libtabulonix-odbc.so" "$tmp/contents"; then
    grep -q '^\[Tabulonix\]' "$tmp/odbc/odbcinst.ini" || fail "the ODBC driver is not registered as Tabulonix"
fi
expect "dpkg -r" dpkg_here -r tabulonix
expect "dpkg --purge" dpkg_here --purge tabulonix
left=$(find "$inst" -not -type d)
[ -z "$left" ] || fail "left behind after purge: $left"
grep -q 'Tabulonix' "$tmp/odbc/odbcinst.ini" && fail "the ODBC registration outlived the purge"

[ $failures -eq 0 ] && echo "package: every check passed ($(basename "$deb"))"
exit $((failures > 0))
