// The layer's program container: "Setup.dat" and its copy "_setup.exe" (which carry the blocking
// mark) are a head of kContainerHeadSize bytes followed by the host program (the payload). The
// head begins with "MZ" (the mark setup's blocking flips to "X") and is at the same time a short
// POSIX sh stub: the kernel knows no such format, so shells and desktop launchers hand the file to
// /bin/sh. The stub checks its own mark and then replaces itself (exec) with the payload, so the
// program keeps the stub's process, and a signal sent to it reaches the program. The payload runs
// from an anonymous in-memory file (perl, part of every Debian system, makes it: the shell has no
// memfd_create); without that, from a copy in the first folder that allows programs, opened and
// removed before it starts. Either way no copy is left behind, even when the program is killed,
// and no writable folder that allows programs is needed. The stub never lets the shell read past
// itself. The layer's own start runs the payload from memory and reads no head at all. Containers
// made earlier (also of the uninstaller) start the same ways.
// Header only: mkpackage, which writes containers, does not link the layer.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

inline constexpr std::size_t kContainerHeadSize = 1024;

// The environment variable through which a payload started natively learns the container file
// it came from (its own folder is the container's).
inline constexpr const char* kContainerVariable = "VELTRIN_CONTAINER";

// First line of the head; a blocked container's first line differs in its first byte.
inline constexpr const char* kContainerMarkLine = "MZ=1";

// memfd_create's number on the machine the payload is built for; 0 where unknown (the stub then
// takes the copy).
#if defined(__x86_64__)
inline constexpr const char* kMemfdCreateCall = "319";
#elif defined(__aarch64__)
inline constexpr const char* kMemfdCreateCall = "279";
#elif defined(__i386__)
inline constexpr const char* kMemfdCreateCall = "356";
#else
inline constexpr const char* kMemfdCreateCall = "";
#endif

inline std::string container_head() {
    // The payload starts at byte kContainerHeadSize: "sysseek 1024" and "tail -c +1025". The
    // in-memory file stays open across exec only for a "#!" payload, whose interpreter reads it
    // again by its /proc name. Where the in-memory start fails (a kernel that forbids running
    // such files), perl hands back to the stub with VELTRIN_NOMEM set. A copy is made under umask
    // 077 in $XDG_RUNTIME_DIR, $TMPDIR, /tmp or /dev/shm, the first whose file system lets it run
    // ("test -x" fails on a noexec mount).
    std::string head =
        "MZ=1\n"
        "# Veltrin program container: runs the program that follows this head.\n"
        "c=$0\n"
        "case $c in /*) ;; *) c=$PWD/$c ;; esac\n"
        "IFS= read -r m < \"$c\" || m=\n"
        "[ \"$m\" = MZ=1 ] || { echo \"${c##*/}: gesperrt, wird nicht gestartet\" >&2; "
        "exit 126; }\n"
        "export VELTRIN_CONTAINER=\"$c\"\n";
    if (*kMemfdCreateCall)
        head += std::string(
                    "[ -z \"$VELTRIN_NOMEM\" ] && command -v perl >/dev/null && exec perl "
                    "-e '$c=shift;$f=syscall(") +
                kMemfdCreateCall +
                ",$n=\"v\",0);if($f>=0){open O,\">&=\",$f;open I,\"<\",$c or exit 126;"
                "sysseek I,1024,0;while(($r=sysread I,$b,65536)>0){$s//=$b;"
                "syswrite(O,$b)==$r or exit 126}$r//exit 126;"
                "fcntl O,2,$s=~/^#!/?0:1;exec{\"/proc/self/fd/$f\"}$c,@ARGV}"
                "$ENV{VELTRIN_NOMEM}=1;exec\"/bin/sh\",$c,@ARGV' -- \"$c\" \"$@\"\n";
    head +=
        "unset VELTRIN_NOMEM\n"
        "umask 077\n"
        "for t in \"$XDG_RUNTIME_DIR\" \"${TMPDIR:-/tmp}\" /tmp /dev/shm; do\n"
        "[ -d \"$t\" ] && d=$(mktemp -d \"$t/veltrin.XXXXXX\" 2>/dev/null) || continue\n"
        "p=$d/${c##*/}\n"
        "if tail -c +1025 \"$c\" > \"$p\" && chmod 700 \"$p\" && [ -x \"$p\" ]; then\n"
        "exec 3< \"$p\"; rm -rf \"$d\"; exec /proc/self/fd/3 \"$@\"\n"
        "fi\n"
        "rm -rf \"$d\"\n"
        "done\n"
        "echo \"${c##*/}: kein Ordner erlaubt den Start\" >&2\n"
        "exit 126\n";
    head += '#';
    head.append(kContainerHeadSize - 1 - head.size(), '#');
    head += '\n';
    return head;
}

}  // namespace platform
