#pragma once

#include <QSize>
#include <utility>

namespace kalidrome::platform {

// A control that asks a layout for at least its nominal size (the size the windows were
// first drawn with) and for more whenever its caption, font or language needs more. A plain
// setMinimumSize would fix the least size at the nominal one, so that a longer caption
// could be squeezed.
template <typename Widget>
class AtLeast : public Widget {
public:
    template <typename... Args>
    explicit AtLeast(QSize nominal, Args&&... args) : Widget(std::forward<Args>(args)...), m_nominal(nominal) {}

    QSize sizeHint() const override { return Widget::sizeHint().expandedTo(m_nominal); }
    QSize minimumSizeHint() const override { return Widget::minimumSizeHint().expandedTo(m_nominal); }

private:
    QSize m_nominal;
};

}  // namespace kalidrome::platform
