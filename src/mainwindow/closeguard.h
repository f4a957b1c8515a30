// Closing the window while a firmware write runs. A write is never cut short by a close: the user
// is asked once, and a close they agree to waits until every running write has ended and shown its
// result. The guard only decides; the window asks, shows and closes.
#ifndef CLOSEGUARD_H
#define CLOSEGUARD_H

class CloseGuard
{
public:
    enum Side
    {
        Camera = 1, // a camera firmware or FPGA write, from its start to its result box
        Wheel = 2   // a wheel update, from the wheel's restart into its bootloader to its last box
    };
    enum Decision
    {
        CloseNow,  // close the window
        Ask,       // ask the user; answered() must follow
        KeepOpen,  // ignore this close attempt
        CloseLater // the close is pending until the running writes have ended
    };

    void beginWrite(Side side);
    // The write of side has ended and its result has been seen. True when a pending close is due:
    // the window should close now.
    bool writeEnded(Side side);

    // A close attempt: CloseNow when no write runs, KeepOpen while a close is pending or the
    // question is open, otherwise Ask.
    Decision closeRequested();
    // The user's answer to the question: CloseNow when yes and the writes ended while the question
    // was open, CloseLater when yes and a write still runs, KeepOpen when no.
    Decision answered(bool yes);

    bool writing() const { return running != 0; }
    // The user agreed to close once the running writes have ended: no new write may start.
    bool closePending() const { return pending; }

private:
    int running = 0; // Side bits
    bool asking = false;
    bool pending = false;
};

#endif
