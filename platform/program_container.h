// The layer's program container: the files "Setup.dat", "_setup.exe", "unins.ex_" and
// "Uninstall.exe" are a head of kContainerHeadSize bytes followed by the host program (the
// payload). The head begins with "MZ" (the mark setup's blocking flips to "X") and is at the same
// time a short POSIX sh stub: the kernel knows no such format, so shells and desktop launchers
// hand the file to /bin/sh, and the stub checks its own mark, copies the payload to a private
// file, runs it with the arguments, folder and standard streams it was given, removes the copy
// and exits with the program's status. It never lets the shell read past itself. The layer's own
// start runs the payload from memory and reads no head at all.
// Header only: mkpackage, which writes containers, does not link the layer.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

inline constexpr std::size_t kContainerHeadSize = 1024;

// The environment variable through which a payload started by the stub learns the container
// file it came from (its own folder is the container's).
inline constexpr const char* kContainerVariable = "VELTRIN_CONTAINER";

// First line of the head; a blocked container's first line differs in its first byte.
inline constexpr const char* kContainerMarkLine = "MZ=1";

inline std::string container_head() {
    // "tail -c +1025" starts at byte kContainerHeadSize; the copy goes to $XDG_RUNTIME_DIR
    // (private to the user) or a fresh temporary folder, mode 0700 under umask 077, so a
    // container in a folder the user cannot write to still runs.
    std::string head =
        "MZ=1\n"
        "# Veltrin program container: this head starts the program stored after it.\n"
        "c=$0\n"
        "case $c in /*) ;; *) c=$PWD/$c ;; esac\n"
        "IFS= read -r m < \"$c\" || m=\n"
        "[ \"$m\" = MZ=1 ] || { echo \"${c##*/}: gesperrt, wird nicht gestartet\" >&2; "
        "exit 126; }\n"
        "umask 077\n"
        "d=\n"
        "[ -d \"$XDG_RUNTIME_DIR\" ] && d=$(mktemp -d \"$XDG_RUNTIME_DIR/veltrin.XXXXXX\" "
        "2>/dev/null)\n"
        "[ -n \"$d\" ] || d=$(mktemp -d) || exit 126\n"
        "trap 'rm -rf \"$d\"' EXIT\n"
        "trap 'exit 129' HUP\n"
        "trap 'exit 130' INT\n"
        "trap 'exit 143' TERM\n"
        "p=$d/${c##*/}\n"
        "tail -c +1025 \"$c\" > \"$p\" && chmod 700 \"$p\" || exit 126\n"
        "VELTRIN_CONTAINER=$c \"$p\" \"$@\"\n"
        "exit\n";
    head += '#';
    head.append(kContainerHeadSize - 1 - head.size(), '#');
    head += '\n';
    return head;
}

}  // namespace platform
