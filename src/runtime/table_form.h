// A form built from its layout table, as every toolkit builds it: one control per row, each
// made by the factory of its kind (control_factories.h) and found by its name and index or by
// the toolkit's handle of it (a widget, a window); the focus order of the tab indices; the
// window's place and size in twips, and the checks of a move.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "runtime/common_controls.h"
#include "runtime/runtime.h"

namespace runtime {

// Sorts `items` by the tab indices of their rows (`row(item)`), keeping the table's order
// among equal indices.
template <class T, class RowOf>
void sortByTabIndex(std::vector<T>& items, RowOf row) {
    std::stable_sort(items.begin(), items.end(), [&](const T& a, const T& b) { return row(a)->tabIndex < row(b)->tabIndex; });
}

// The place of a focus order of `count` places that the focus moves to from place `at` (-1
// when it is at none of them), forwards or backwards and round, passing over the places that
// `takes` says cannot take it; -1 when none can.
template <class Takes>
int nextFocus(int count, int at, bool forward, Takes takes) {
    for (int step = 1; step <= count; ++step) {
        const int i = ((at < 0 ? (forward ? -1 : count) : at) + (forward ? step : -step) + 2 * count) % count;
        if (takes(i)) return i;
    }
    return -1;
}

// Raises unless the form's window is there (InvalidProcedureCall) and `twips` is a place
// (Overflow).
void checkMove(bool windowThere, float twips);

// A rectangle in twips.
struct TwipsRect {
    float left, top, width, height;
};

// `Handle`: the toolkit's handle of a control and of the window, null when there is none.
template <class Handle>
class TableForm : public Form {
public:
    float Left() const final { return outer().left; }
    float Top() const final { return outer().top; }
    float Width() const final { return outer().width; }
    float Height() const final { return outer().height; }
    void setLeft(float twips) final {
        checkMove(static_cast<bool>(window_), twips);
        moveTo(twips, std::nullopt);
    }
    void setTop(float twips) final {
        checkMove(static_cast<bool>(window_), twips);
        moveTo(std::nullopt, twips);
    }

    // The form's top-level window, or a null handle once it has gone.
    Handle window() const { return window_; }
    struct Entry {
        const ControlSpec* row;
        Handle handle;
        std::unique_ptr<Control> control;
    };

    // The toolkit's handle of the control of that name and index (-1 outside an array), or
    // a null one.
    Handle handle(std::u16string_view name, std::int16_t index) const {
        const Entry* found = entry(name, index);
        return found ? found->handle : Handle{};
    }
    // The row of the control with that handle, or null.
    template <class Key>
    const ControlSpec* rowOf(const Key& handle) const {
        const Entry* found = entryOf(handle);
        return found ? found->row : nullptr;
    }

protected:
    // The window's outer rectangle, its frame included, on the screen; all 0 without a window.
    virtual TwipsRect outer() const = 0;
    // Moves the window's outer corner to `left` and `top`, each where given, else where it is.
    virtual void moveTo(std::optional<float> left, std::optional<float> top) = 0;

    Control* findControl(std::u16string_view name, std::int16_t index) override {
        const Entry* found = entry(name, index);
        return found ? found->control.get() : nullptr;
    }
    OptionArray* findOptionArray(std::u16string_view name) override { return arrays_.find(name); }

    const Entry* entry(std::u16string_view name, std::int16_t index) const {
        for (const Entry& e : entries_)
            if (e.row->name == name && e.row->index == index) return &e;
        return nullptr;
    }
    template <class Key>
    const Entry* entryOf(const Key& handle) const {
        for (const Entry& e : entries_)
            if (handle && e.handle == handle) return &e;
        return nullptr;
    }

    Handle window_{};
    std::vector<Entry> entries_;
    common::OptionArrays arrays_;
};

} // namespace runtime
