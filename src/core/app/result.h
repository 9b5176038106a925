#pragma once

#include "core/app/problems.h"

namespace quillner {

// The one way core tells how a reading, a check or a build went: the value made, the problems
// that kept it from being whole (each with its file, place and text) and the warnings about
// what it holds otherwise than asked. Without problems the value is whole and may be used; with
// them it holds what could be made before them (the defaults elsewhere), and the caller says
// whether that may go on. Exceptions are left to the edges: a file that cannot be opened, and
// the command line's and the windows' handlers, which turn problems into messages.
// The value of a Result that makes nothing but its success.
struct Done
{
    friend bool operator==(Done, Done) = default;
};

template <typename T> struct Result
{
    T value{};
    Problems problems;
    Problems warnings;

    bool whole() const { return problems.isEmpty(); }

    static Result failure(Problems problems) { return {T{}, std::move(problems), {}}; }
};

} // namespace quillner
