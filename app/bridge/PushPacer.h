// When the panes and counters are repainted. Unpaced, every block is shown at once. Paced (the
// fast mode), however many blocks arrive, there is at most one repaint a period: the first news at
// once, what comes after it at the end of the period, and the periods stop once one went by
// without news.
#pragma once

class CPushPacer {
public:
    enum class Step {
        Wait,       // nothing to do now
        Push,       // repaint now
        PushAndRun, // repaint now and start a period
        Stop,       // a period went by without news: stop the periods
    };

    void SetPaced(bool bPaced) { m_bPaced = bPaced; }
    bool Paced() const { return m_bPaced; }

    // A block was added to a pane.
    Step News() {
        if (!m_bPaced)
            return Step::Push;
        m_bDue = true;
        if (m_bRunning)
            return Step::Wait;
        m_bDue = false;
        m_bRunning = true;
        return Step::PushAndRun;
    }
    // A period ended.
    Step PeriodEnd() {
        if (!m_bDue) {
            m_bRunning = false;
            return Step::Stop;
        }
        m_bDue = false;
        return Step::Push;
    }

private:
    bool m_bPaced = false;
    bool m_bRunning = false; // a period is running
    bool m_bDue = false;     // news came since the last repaint
};
