# The address layout of the test beds' Wine processes (sourced by testbed.sh, wine-run.sh and the
# fuzzing run).
#
# Debian's Wine 8 comes without its preloader, so nothing holds Wine's fixed addresses before the
# loader's C library starts: the kernel puts the loader's heap anywhere in the 1 GiB after the
# loader's image (0x7d000000), and about one start in 8,000 finds it over 0x7ffe0000, where every
# Windows process maps its shared user data. That process quits at once (exit status 1, nothing
# printed under WINEDEBUG=-all) and the CreateProcess that started it fails with
# ERROR_INTERNAL_ERROR. Without address randomization the heap follows the image every time; the
# setting is inherited, so it holds for every process that these start in turn.
WINE_LAYOUT=(setarch --addr-no-randomize)
