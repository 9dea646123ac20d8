#include "Resources.h"

#include <QtGlobal>

static void registerResources()
{
    Q_INIT_RESOURCE(resources);
}

void ensureResources()
{
    static const bool done = (registerResources(), true);
    Q_UNUSED(done);
}
