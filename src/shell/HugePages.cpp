#include "HugePages.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr char kTunables[] = "GLIBC_TUNABLES";
constexpr char kHugeHeap[] = "glibc.malloc.hugetlb=1";
// Set for the second start: the GLIBC_TUNABLES it was given, after a '=',
// or '-' when there was none.
constexpr char kGiven[] = "OSTREL_GIVEN_TUNABLES";

bool offeredOnRequest()
{
    std::ifstream enabled("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    std::getline(enabled, modes);
    // "always" gives them without asking, "never" not at all.
    return modes.find("[madvise]") != std::string::npos;
}

void restore(const char *given)
{
    if (given[0] == '=')
        ::setenv(kTunables, given + 1, 1);
    else
        ::unsetenv(kTunables);
    ::unsetenv(kGiven);
}

} // namespace

void HugePages::useForHeap(char **argv)
{
    if (const char *given = std::getenv(kGiven)) {
        restore(std::string(given).c_str());
        return;
    }
    const char *tunables = std::getenv(kTunables);
    if ((tunables && std::strstr(tunables, "glibc.malloc.hugetlb")) || !offeredOnRequest())
        return;
    const std::string given = tunables ? std::string("=") + tunables : std::string("-");
    const std::string wanted = tunables && *tunables ? std::string(tunables) + ':' + kHugeHeap : std::string(kHugeHeap);
    ::setenv(kGiven, given.c_str(), 1);
    ::setenv(kTunables, wanted.c_str(), 1);
    // By its own name: the kernel names the process after the file run.
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        self[length] = '\0';
        ::execv(self, argv);
    }
    // Not possible here (no /proc, the program replaced since): on as
    // before, in small pages.
    restore(given.c_str());
}
