// The variadic tail of VR_TRACE_FAILURE: every piece but the last is description, the last is
// the status code.
#pragma once
#include <tuple>
#include <utility>

namespace vr::trace {
namespace detail {
template <class Tuple, size_t... I>
qkit_String_t Tail(const Tuple& t, std::index_sequence<I...>) {
  qkit_String_t s;
  (AppendPiece(s, std::get<I>(t)), ...);
  s = s.Concatenate(" = ");
  AppendPiece(s, Hr(static_cast<long>(std::get<sizeof...(I)>(t))));
  return s;
}
}  // namespace detail

template <class... P>
qkit_String_t FailureTail(const P&... pieces) {
  static_assert(sizeof...(P) >= 1, "a failure trace ends with its status");
  return detail::Tail(std::forward_as_tuple(pieces...), std::make_index_sequence<sizeof...(P) - 1>());
}
}  // namespace vr::trace
