"""A blocking native call on a worker thread that its caller's cancellation stops.

The native methods release the interpreter lock, so the event loop goes on
serving while a run waits on a worker thread. When the task awaiting the run is
cancelled (the client cancelled the request, or went away), the run's
`Cancellation` is cancelled, which stops its child as a timeout would, and the
task still waits until the worker has returned: no child outlives the call that
started it, nor the server.
"""

from __future__ import annotations

from typing import Callable, TypeVar

import anyio
import anyio.to_thread

from quillbox._native import Cancellation

T = TypeVar("T")


async def run_stoppable(call: Callable[[Cancellation], T]) -> T:
    """`call(cancellation)` on a worker thread: its result, or its exception."""
    cancellation = Cancellation()
    returned = anyio.Event()
    results: list[T] = []
    failures: list[Exception] = []

    async def wait_for_worker() -> None:
        try:
            # Not abandoned: a cancellation reaches this task only once the
            # worker has returned, so the task group below waits for it.
            results.append(await anyio.to_thread.run_sync(call, cancellation))
        except Exception as failure:  # kept out of the task group's exception group
            failures.append(failure)
        finally:
            returned.set()

    async with anyio.create_task_group() as group:
        group.start_soon(wait_for_worker)
        try:
            await returned.wait()
        except anyio.get_cancelled_exc_class():
            cancellation.cancel()
            raise
    if failures:
        raise failures[0]
    return results[0]
