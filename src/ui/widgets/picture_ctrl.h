#pragma once
#include <QImage>
#include <QLabel>

namespace tn::ui {

// A picture that reports clicks and double clicks.
class CPictureCtrl : public QLabel {
    Q_OBJECT
public:
    explicit CPictureCtrl(QWidget* parent = nullptr);
    void setPictureId(int id);
    int pictureId() const { return m_id; }

signals:
    void clicked();
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int m_id = 0;
};

// A group frame with its caption in the top-left corner of the border.
class CGroupFrame : public QWidget {
    Q_OBJECT
public:
    explicit CGroupFrame(const QString& title, QWidget* parent = nullptr);
    void setTitle(const QString& title);
    QString title() const { return m_title; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Badge {
        bool valid = false;
        QString title;
        int width = 0;
        QString shown; // elided to the width
        QRect rect;
    };
    const Badge& titleBadge() const;
    QString m_title;
    mutable Badge m_badge;
    QImage m_outline; // the rounded frame at the present size
};

} // namespace tn::ui
