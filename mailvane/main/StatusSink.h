#pragma once

#include <QString>

// Where the check cycle reports: the three panels of the status bar, and the main window, whose
// visibility decides whether an error goes to a message box or to panel 3.
class StatusSink
{
public:
    virtual ~StatusSink() = default;
    // Panels are numbered 1 to 3.
    virtual void setPanel(int panel, const QString &text) = 0;
    virtual QString panel(int panel) const = 0;
    virtual bool isWindowVisible() const = 0;
    // Makes the window visible without changing its state or raising it.
    virtual void showWindow() = 0;
};

// Panels held as text, for a program without a window.
class TextStatusSink : public StatusSink
{
public:
    void setPanel(int panel, const QString &text) override
    {
        if (panel >= 1 && panel <= 3)
            m_panels[panel - 1] = text;
    }
    QString panel(int panel) const override { return panel >= 1 && panel <= 3 ? m_panels[panel - 1] : QString(); }
    bool isWindowVisible() const override { return m_visible; }
    void showWindow() override { m_visible = true; }

private:
    QString m_panels[3];
    bool m_visible = false;
};
