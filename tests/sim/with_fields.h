#pragma once
// Options and faults with only the named fields changed.
template <class T, class Set>
T make(Set set) {
    T value;
    set(value);
    return value;
}
