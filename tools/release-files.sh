# The files of a release, named in this one place and read by make dist, make verify-dist and
# make clean: the programs, which are signed, what SHA256SUMS covers, and every file.
release_programs="quarrion_shell.exe quarrion_shell_setup.exe"
release_summed="$release_programs BUILDINFO THIRD-PARTY-NOTICES.txt quarrion_shell.spdx.json"
release_files="$release_summed SHA256SUMS"
