// An object's dump as one text.
#pragma once

#include <sstream>
#include <string>

template <class Dumpable>
std::string dumped(const Dumpable& object)
{
    std::ostringstream out;
    object.dump(out);
    return out.str();
}
