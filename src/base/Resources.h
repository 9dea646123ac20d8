#pragma once

// Registers the compiled-in resources (icons, string table). The editor is
// a static library, whose resource registration the linker may drop; every
// user of a resource calls this first. Cheap after the first call.
void ensureResources();
