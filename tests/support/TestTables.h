#pragma once

#include <QTest>

#include <initializer_list>

// Declares one column of a data table per type, named in order.
template <typename... T>
void addColumns(std::initializer_list<const char *> names)
{
    auto name = names.begin();
    (QTest::addColumn<T>(*name++), ...);
}
