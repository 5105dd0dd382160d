#include "app/tasks_splitter.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

TtasksSplitter::TtasksSplitter(QWidget* aTarget, QWidget* aParent)
    : QWidget(aParent), FTarget(aTarget)
{
    setFixedHeight(5);
    setCursor(Qt::SizeVerCursor);
}

void TtasksSplitter::SetTargetHeight(int aHeight)
{
    int height = std::max(aHeight, MinTargetHeight);
    if (MaxTargetHeight)
        height = std::max(MinTargetHeight, std::min(height, MaxTargetHeight()));
    FTarget->setFixedHeight(height);
    Q_EMIT Moved(height);
}

void TtasksSplitter::paintEvent(QPaintEvent*)
{
    // A short grip in the middle tells the bar from an empty gap.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    const int y = height() / 2;
    for (int x = width() / 2 - 12; x <= width() / 2 + 12; x += 4)
        painter.drawPoint(x, y);
}

void TtasksSplitter::mousePressEvent(QMouseEvent* aEvent)
{
    if (aEvent->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(aEvent);
    FDragging = true;
    FStartY = qRound(aEvent->globalPosition().y());
    FStartHeight = FTarget->height();
}

void TtasksSplitter::mouseMoveEvent(QMouseEvent* aEvent)
{
    if (!FDragging)
        return QWidget::mouseMoveEvent(aEvent);
    // The panel sits below the bar: dragging up makes it taller.
    SetTargetHeight(FStartHeight - (qRound(aEvent->globalPosition().y()) - FStartY));
}

void TtasksSplitter::mouseReleaseEvent(QMouseEvent* aEvent)
{
    if (aEvent->button() == Qt::LeftButton)
        FDragging = false;
    QWidget::mouseReleaseEvent(aEvent);
}
