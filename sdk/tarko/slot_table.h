// Tables of function pointers, filled and read by slot. A table's header pairs each slot with its
// function type (a specialization of SlotType); filling with SetSlot and reading with GetSlot
// then goes through that type, so a function of another type fails to compile.
#pragma once

#include <type_traits>

// Fn: the function type of slot S of the table whose slots are of type Slot. Only the slots that
// hold a function have one.
template <typename Slot, Slot S>
struct SlotType;

// The base of the specializations: struct SlotType<Slots, kOne> : SlotFnIs<OneFn> {};
template <typename F>
struct SlotFnIs {
  using Fn = F;
};

template <auto S>
using SlotFn = typename SlotType<decltype(S), S>::Fn;

// A function of type F may stand in slot S.
template <auto S, typename F>
concept FitsSlot = std::is_convertible_v<F, SlotFn<S>>;

template <auto S, typename Entry, typename F>
requires FitsSlot<S, F>
void SetSlot(Entry* table, F fn) {
  table[S] = reinterpret_cast<Entry>(static_cast<SlotFn<S>>(fn));
}

// Slot S of a table, or null when there is no table.
template <auto S, typename Entry>
SlotFn<S> GetSlot(const Entry* table) {
  return table ? reinterpret_cast<SlotFn<S>>(table[S]) : nullptr;
}
