#pragma once

// The heap in huge pages (2 MB) where the kernel offers them on request
// ("madvise" in /sys/kernel/mm/transparent_hugepage/enabled, the usual
// default). The recovery copy forks the editor, and a fork copies the page
// tables of everything the process holds: for a 500 MB document (about
// 7 GB of tree) that is 1.8 million entries in 4 kB pages, over 100 ms
// during which the window stands still, and 512 times fewer in huge pages.
// Loading touches fewer pages as well. glibc puts its heap in huge pages
// only when told so before the process starts (the glibc.malloc.hugetlb
// tunable), so the process starts itself again, once, with that setting.
namespace HugePages {

// Call first thing in main(), before any thread or library is started:
// either returns at once (the setting is in force, was chosen otherwise
// by the user, or would change nothing here) or starts this program again
// with the same arguments. The programs this one starts later see the
// environment as it was given.
void useForHeap(char **argv);

} // namespace HugePages
