// Catching what library code throws, keeping its exact class and its content.
#pragma once

#include "errors/EKestException.h"
#include "errors/EKestInvalidParameter.h"
#include "errors/EKestWinError.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <vector>

struct Thrown {
    std::type_index type;
    EKestException error;  // the library part of it, history included

    std::vector<std::string> contexts() const
    {
        std::vector<std::string> result;
        for (const auto& entry : error.getHistory()) {
            result.push_back(entry.getContext());
        }
        return result;
    }
    std::vector<std::string> comments() const
    {
        std::vector<std::string> result;
        for (const auto& entry : error.getHistory()) {
            result.push_back(entry.getComment());
        }
        return result;
    }
};

// What `body` threw, if it threw an exception of the library's family.
template <class Body>
std::optional<Thrown> thrownBy(Body&& body)
{
    try {
        body();
    } catch (const EKestException& error) {
        return Thrown{typeid(error), error};
    }
    return std::nullopt;
}
