#pragma once

namespace serialkit::tool {

// An ordering of values of type T, handed to the sortable list.
template <typename T>
class Compare {
  public:
    virtual ~Compare() = default;

    // True when a sorts strictly before b.
    virtual bool lessThan(const T& a, const T& b) const = 0;
    // True when a sorts before b or both sort the same.
    virtual bool lessThanOrEqual(const T& a, const T& b) const = 0;
};

}  // namespace serialkit::tool
