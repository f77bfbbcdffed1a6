#pragma once

#include "app/Namespace.h"
#include "app/shell/Button.h"

#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QWidget>

namespace Tickerly::App {

// A picture that can be scaled about its centre, as a layer's transform scales it: one of the
// installation help's steps. The scale is animatable. Only a view that wants a layer is scaled.
// Main thread only; owned by its parent.
class StepImageView : public QWidget {
public:
    explicit StepImageView(const QImage& image = {}, QWidget* parent = nullptr);

    const QImage& image() const { return m_image; }
    void setImage(const QImage& image);

    bool wantsLayer() const { return m_wantsLayer; }
    void setWantsLayer(bool wants) { m_wantsLayer = wants; }

    // The layer transform's x and y scale (1 is the identity).
    double scale() const;
    void setScale(double scale);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    bool m_wantsLayer = false;
    double m_scale = 1.0;
};

// The first-run installation help of the sources window: a dark panel with a heading, three
// step pictures that pop in one after another, and a done button. The scene lays it out and
// connects its outlets. Main thread only; owned by the sources view.
class IntroductionView : public QWidget {
public:
    explicit IntroductionView(QWidget* parent = nullptr);

    StepImageView* step1() const { return m_step1; }
    void setStep1(StepImageView* view) { m_step1 = view; }
    StepImageView* step2() const { return m_step2; }
    void setStep2(StepImageView* view) { m_step2 = view; }
    StepImageView* step3() const { return m_step3; }
    void setStep3(StepImageView* view) { m_step3 = view; }
    QLabel* title() const { return m_title; }
    void setTitle(QLabel* title) { m_title = title; }
    Button* doneButton() const { return m_doneButton; }
    void setDoneButton(Button* button) { m_doneButton = button; }

    void awakeFromNib();
    // Shrinks the steps to almost nothing, ready to pop in.
    void prepareToAnimateIn();
    // Pops the steps in at 0.5, 1.0 and 1.5 seconds from now.
    void animateIn();
    void animateInStep(StepImageView* step);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<StepImageView> m_step1;
    QPointer<StepImageView> m_step2;
    QPointer<StepImageView> m_step3;
    QPointer<QLabel> m_title;
    QPointer<Button> m_doneButton;
};

} // namespace Tickerly::App
