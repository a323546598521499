// The chart's questions answered from a built layout library, through the
// same lookups the keyboard-layout loader makes.
#pragma once

#include "kbdread.h"

#include "key_labels.h"

namespace chart {

class LayoutFileSource : public LayoutSource {
public:
    explicit LayoutFileSource(kbdread::Layout layout) : layout_(std::move(layout)) {}

    std::u16string characters(ScanCode scan, unsigned modifierBits) const override;
    std::optional<std::u16string> keyName(ScanCode scan) const override;

private:
    kbdread::Layout layout_;
};

}  // namespace chart
