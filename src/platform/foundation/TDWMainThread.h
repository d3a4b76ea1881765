#pragma once

#include <functional>

class QObject;

// The main thread: the thread of the QCoreApplication, where the event loop
// runs, every widget lives and every completion of asynchronous work is
// delivered. The one way to ask whether the caller is on it and to hand work
// over to it.
//
// Without an application object (a command-line tool, start-up before the
// object exists, shutdown after it is gone) there is no event loop to hand work
// to, and every thread stands in for the main thread: isCurrent() answers
// true, post() and invokeAndWait() run the function at once, in the caller.
namespace TDWMainThread {

bool isCurrent();

// Runs `function` on the main thread later, from its event loop, and returns
// at once; a main-thread caller sees it run only after it has returned to the
// loop. Functions posted from one thread run in the order they were posted.
void post(std::function<void()> function);

// The same, dropped when `context` (an object that lives on the main thread)
// is destroyed before the function runs.
void post(QObject *context, std::function<void()> function);

// Runs `function` on the main thread and returns once it has returned; on the
// main thread, at once. For the rare caller that must: a worker that waits
// here while the main thread waits for that worker (at quit, say) deadlocks,
// so the caller must hold nothing the main thread may be waiting for.
void invokeAndWait(const std::function<void()> &function);

} // namespace TDWMainThread
