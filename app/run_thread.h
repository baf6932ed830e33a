// What the scan and recovery workers share: hand-overs to the UI thread, the
// progress bar's scale, and an orderly end when the window goes away.
//
// A worker touches no control. Each change it makes to the window runs on
// the UI thread, either while the worker waits (OnUiThread: label texts,
// button states, reads of a row, the closing message) or queued behind the
// earlier ones (PostToUiThread: batches of rows and progress, so that the
// walk never waits per record). Both go to the same receiver, so the window
// sees every change in the order the worker made it.
//
// The window owns its workers. When it is destroyed during a run it abandons
// them: they see their stop flag, hand-overs still pending are carried out as
// no-ops, later ones are dropped, and the window waits for the threads to end
// before any control is gone.
#pragma once

#include <QThread>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>

namespace app {

class TMainForm;

// A count of steps shown on a progress bar, whose range is an int: counts
// beyond it are shown divided, so the bar still ends exactly full.
class TBarScale {
public:
    explicit TBarScale(std::uint64_t steps)
        : m_divisor(steps <= kLimit ? 1 : (steps - 1) / kLimit + 1),
          m_maximum(static_cast<int>(steps / m_divisor)) {}
    int Maximum() const { return m_maximum; }
    int Position(std::uint64_t done) const { return static_cast<int>(done / m_divisor); }

private:
    static constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(std::numeric_limits<int>::max());
    std::uint64_t m_divisor;
    int m_maximum;
};

class TRunThread : public QThread {
public:
    explicit TRunThread(TMainForm& form);
    ~TRunThread() override;

    // From the first instruction of the thread to its last hand-over: a
    // click in this time belongs to this run, even before the run has set
    // its running flag.
    bool Busy() const { return isRunning() && !m_handedOverLast; }

    // UI thread, while the window is being destroyed: drops every later
    // hand-over and waits for the thread, carrying out (as no-ops) the
    // hand-overs it waits for meanwhile. The caller sets the stop flag.
    void AbandonAndWait();

protected:
    // Runs fn on the UI thread and waits for it. False, with fn not run,
    // once the window has abandoned the run.
    bool OnUiThread(const std::function<void()>& fn);
    // Queues fn for the UI thread behind every earlier hand-over.
    void PostToUiThread(std::function<void()> fn);
    bool Abandoned() const { return m_abandoned->load(); }
    // The run makes no further hand-over.
    void HandedOverLast() { m_handedOverLast = true; }

    TMainForm& m_form;

private:
    std::shared_ptr<std::atomic<bool>> m_abandoned = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> m_handedOverLast{false};
};

}  // namespace app
