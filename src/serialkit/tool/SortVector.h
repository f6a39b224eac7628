#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "serialkit/tool/Compare.h"

namespace serialkit::tool {

// A growable list that sorts itself with the ordering it was created with. Elements are
// compared only through that ordering, so any Compare<T> works (StringCompare for texts).
template <typename T>
class SortVector {
  public:
    explicit SortVector(std::shared_ptr<const Compare<T>> compare, std::size_t initialCapacity = 0)
        : compare_(std::move(compare)) {
        if (!compare_) {
            throw std::invalid_argument("SortVector needs an ordering");
        }
        elements_.reserve(initialCapacity);
    }

    const Compare<T>& getCompare() const { return *compare_; }

    std::size_t size() const { return elements_.size(); }
    bool isEmpty() const { return elements_.empty(); }
    void add(T element) { elements_.push_back(std::move(element)); }
    void insertAt(std::size_t index, T element) {
        if (index > elements_.size()) {
            throw std::out_of_range(indexMessage(index));
        }
        elements_.insert(elements_.begin() + static_cast<std::ptrdiff_t>(index),
                         std::move(element));
    }
    void removeAt(std::size_t index) {
        checkIndex(index);
        elements_.erase(elements_.begin() + static_cast<std::ptrdiff_t>(index));
    }
    void clear() { elements_.clear(); }

    const T& get(std::size_t index) const {
        checkIndex(index);
        return elements_[index];
    }
    void set(std::size_t index, T element) {
        checkIndex(index);
        elements_[index] = std::move(element);
    }
    const std::vector<T>& elements() const { return elements_; }
    typename std::vector<T>::const_iterator begin() const { return elements_.begin(); }
    typename std::vector<T>::const_iterator end() const { return elements_.end(); }

    // Sorts the whole list in place; equal elements may change their order.
    void sort() {
        if (elements_.size() > 1) {
            quickSort(0, elements_.size() - 1);
        }
    }

    // Sorts the inclusive index range low..high in place; elements outside it are left alone.
    // An empty or one-element range (low >= high) does nothing; high past the end is an error.
    void quickSort(std::size_t low, std::size_t high) {
        if (low >= high) {
            return;
        }
        checkIndex(high);
        sortRange(static_cast<std::ptrdiff_t>(low), static_cast<std::ptrdiff_t>(high));
    }

    void swapElements(std::size_t i, std::size_t j) {
        checkIndex(i);
        checkIndex(j);
        std::swap(elements_[i], elements_[j]);
    }

  private:
    static std::string indexMessage(std::size_t index) {
        return "SortVector index out of range: " + std::to_string(index);
    }
    void checkIndex(std::size_t index) const {
        if (index >= elements_.size()) {
            throw std::out_of_range(indexMessage(index));
        }
    }

    // Hoare partitioning around the middle element: sorted and reversed input stay
    // O(n log n), and runs of equal elements are split evenly rather than piled up.
    // Recursing into the smaller part keeps the stack depth logarithmic.
    void sortRange(std::ptrdiff_t low, std::ptrdiff_t high) {
        const Compare<T>& cmp = *compare_;
        while (low < high) {
            const T pivot = elements_[static_cast<std::size_t>(low + (high - low) / 2)];
            std::ptrdiff_t i = low;
            std::ptrdiff_t j = high;
            bool swapped = false;
            while (i <= j) {
                // The bounds only matter for an inconsistent ordering; a sound one stops
                // at the pivot's value.
                while (i <= high && cmp.lessThan(at(i), pivot)) {
                    ++i;
                }
                while (j >= low && cmp.lessThan(pivot, at(j))) {
                    --j;
                }
                if (i <= j) {
                    std::swap(at(i), at(j));
                    swapped = true;
                    ++i;
                    --j;
                }
            }
            // A sound ordering always swaps at least the pivot with itself or a partner;
            // without that neither part shrinks and the sort would never end.
            if (!swapped) {
                throw std::logic_error("SortVector: inconsistent ordering");
            }
            if (j - low < high - i) {
                sortRange(low, j);
                low = i;
            } else {
                sortRange(i, high);
                high = j;
            }
        }
    }
    T& at(std::ptrdiff_t index) { return elements_[static_cast<std::size_t>(index)]; }

    std::shared_ptr<const Compare<T>> compare_;
    std::vector<T> elements_;
};

}  // namespace serialkit::tool
