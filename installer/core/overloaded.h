// A visitor made of lambdas, one for each kind of change: the classic
// helper for std::visit.
#pragma once

namespace setup {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

}  // namespace setup
