#pragma once

#include <QWidget>
#include <functional>

// A horizontal bar that the user drags to change the height of the panel below
// it (the task editor), the way a splitter between two stacked panels works.
class TtasksSplitter : public QWidget
{
    Q_OBJECT
public:
    TtasksSplitter(QWidget* aTarget, QWidget* aParent = nullptr);

    // Bounds of the target's height while dragging.
    int MinTargetHeight = 120;
    std::function<int()> MaxTargetHeight;

    // Sets the target's height within the bounds.
    void SetTargetHeight(int aHeight);

Q_SIGNALS:
    void Moved(int aTargetHeight);

protected:
    void paintEvent(QPaintEvent* aEvent) override;
    void mousePressEvent(QMouseEvent* aEvent) override;
    void mouseMoveEvent(QMouseEvent* aEvent) override;
    void mouseReleaseEvent(QMouseEvent* aEvent) override;

private:
    QWidget* FTarget;
    bool FDragging = false;
    int FStartY = 0;
    int FStartHeight = 0;
};
