#!/usr/bin/env bash
# cmake --install into a temporary prefix: the layout, the manifest written for
# what was installed, the launchers, reelpage-cli on the sample and the
# program started offscreen; a file changed afterwards is refused.
# Usage: install_test.sh BUILD_DIR SAMPLE_VIDEO
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"
build=$1 sample=$2
make_home
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || fail "cmake --install"

for f in lib/reelpage/reelpage lib/reelpage/reelpage-cli lib/reelpage/libreelpage.so \
         lib/reelpage/libreelpage-headless.so \
         lib/reelpage/dec lib/reelpage/enc lib/reelpage/helperhost lib/reelpage/Ostrapel.so \
         lib/reelpage/talvoric.so \
         lib/reelpage/product.ifo lib/reelpage/reelpage.dat lib/reelpage/Help/index.html \
         lib/reelpage/Resource/Logo.png lib/reelpage/Templates/Templates.lst \
         share/applications/reelpage.desktop share/icons/hicolor/48x48/apps/reelpage.png \
         share/icons/hicolor/256x256/apps/reelpage.png share/man/man1/reelpage-cli.1.gz \
         share/bash-completion/completions/reelpage-cli; do
    [ -e "$prefix/$f" ] || fail "$f is not installed"
done
[ ! -e "$prefix/lib/reelpage/share" ] || fail "the desktop files belong in share/, not the program folder"
[ "$(readlink "$prefix/bin/reelpage")" = ../lib/reelpage/reelpage ] || fail "bin/reelpage"
desktop-file-validate "$prefix/share/applications/reelpage.desktop" || fail "desktop entry"
# The completion offers the options and the choices of an option.
# shellcheck disable=SC1091
words=$(bash -c ". '$prefix/share/bash-completion/completions/reelpage-cli'
    COMP_WORDS=(reelpage-cli --res); COMP_CWORD=1; _reelpage_cli; echo \"\${COMPREPLY[*]}\"
    COMP_WORDS=(reelpage-cli --resize le); COMP_CWORD=2; _reelpage_cli; echo \"\${COMPREPLY[*]}\"")
[ "$words" = $'--resize\nletterbox' ] || fail "bash completion gave '$words'"

check_cli "$prefix/bin/reelpage-cli" "$sample"
check_program "$prefix/bin/reelpage" "$sample"

# A damaged installation is told apart from an intact one.
echo "changed" >>"$prefix/lib/reelpage/Help/index.html"
rc=0
"$prefix/bin/reelpage-cli" --info "$sample" >/dev/null 2>&1 || rc=$?
[ "$rc" = 5 ] || fail "a changed file gave exit status $rc, not 5"
echo "PASS"
