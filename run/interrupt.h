#pragma once
// What stops a run from outside: a signal (Ctrl-C, SIGTERM, SIGHUP), or a
// standard output that takes no more (its reader gone, or a write failed).
// The same signal again while the run ends (a hang-up that the kernel and
// the shell both deliver, timeout(1) signalling the child and its group) is
// the same request.
// Each comes as an event of the Qt loop, so that it wakes whatever loop is
// running (the link's wait for an answer, a pause between polls). The
// exchange on the line is never cut: work stops at its next stopping point,
// the group in progress written whole, and the run's record is still
// written. The platform's half (the handlers and the watch on standard
// output) lives in interrupt_<platform>.cpp.
#include <QObject>
#include <QString>

namespace hv52run {

class Interrupt : public QObject
{
    Q_OBJECT
public:
    enum class Cause {
        None,
        CtrlC,         // SIGINT, or Ctrl+C in a Windows console
        CtrlBreak,     // Ctrl+Break in a Windows console
        ConsoleClosed, // the Windows console window closed, or the user logged off
        Terminate,     // SIGTERM
        HangUp,        // SIGHUP
        OutputClosed,  // standard output's reader is gone (EPIPE)
        OutputFailed,  // a write to standard output failed otherwise
        Operator,      // the line window's 停止 (or Esc)
    };

    // The one instance: the handlers and the watch on standard output are
    // installed at the first call.
    static Interrupt &install();

    // Whether work must stop, and why: the first cause stays.
    static Cause cause();
    static bool arrived() { return cause() != Cause::None; }
    // "已中断（Ctrl-C）", "已中断（Ctrl-Break）", "已中断（控制台已关闭）",
    // "已中断（SIGTERM）", "已中断（SIGHUP）",
    // "已中断（标准输出已关闭）", "已中断（无法写入标准输出）",
    // "已中断（操作员停止）".
    static QString text();

    // A write to standard output failed with `error` (an errno value). From
    // then on nothing more is written there, and the run stops as on a
    // signal. Works before install() too (nothing is then woken).
    static void outputFailed(int error);
    // Whether standard output has failed.
    static bool outputLost();

    // The operator asked a window's run to stop: as a signal, at the next
    // stopping point. Any thread; wakes the waits like a signal.
    static void stopByOperator();
    // Before a window's next run: an operator's stop of the last one is
    // forgotten. A signal's stays (the process is ending).
    static void forgetOperatorStop();
    // For the platform's signal handlers: records the cause (the first one
    // stays). Async-signal-safe; wakes nothing by itself.
    static void note(Cause cause);

    // The way to stop at once (SIGQUIT, Ctrl-\ on a terminal): the process
    // ends with kQuitStatus, writing no report or record, right away or,
    // when a group of writes is on the line, as soon as that group is
    // written, so that no group is left half written. Async-signal-safe.
    static void quitAtOnce();
    static constexpr int kQuitStatus = 131; // as a shell shows an end by SIGQUIT
    // Brackets a group of writes that goes out whole (an analog output's four
    // values): a stop at once waits for its end. Any thread.
    class Group
    {
    public:
        Group();
        ~Group();
        Group(const Group &) = delete;
        Group &operator=(const Group &) = delete;
    };

signals:
    // A cause arrived; emitted from the event loop (or from outputFailed).
    void raised();

private:
    Interrupt();
    // The platform's part, run once by the constructor.
    void installHandlers();
    // The platform's end of a stop at once: its message, then the exit.
    [[noreturn]] static void endNow();
    void wake();
};

} // namespace hv52run
