"""Puts the reference lookup server's modules on the path and gives tests a running server."""
import asyncio
import os
import sys
import threading

import pytest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools", "lookup_server")
sys.path.insert(0, os.path.abspath(TOOL))

import server  # noqa: E402
import store as store_module  # noqa: E402


class RunningServer:
    """serve() on its own thread and event loop, on ports the system picks."""

    def __init__(self, store, zero_word=False, request_log=None):
        self.store = store
        self.request_log = request_log
        self.loop = asyncio.new_event_loop()
        self.ready = threading.Event()
        self.counters = None
        self.thread = threading.Thread(target=self._run, args=(zero_word,), daemon=True)
        self.thread.start()
        assert self.ready.wait(10), "server did not start"

    def _run(self, zero_word):
        asyncio.set_event_loop(self.loop)
        self.stop_event = asyncio.Event()

        def ready(bound):
            self.udp_port, self.tcp_ports = bound
            self.ready.set()

        def http_ready(port):
            self.http_port = port

        self.counters = self.loop.run_until_complete(server.serve(
            self.store, "127.0.0.1", 0, [0, 0], zero_word, flush_seconds=0.05, ready=ready, stop=self.stop_event,
            http_port=0, http_ready=http_ready, request_log=self.request_log))

    def stop(self):
        self.loop.call_soon_threadsafe(self.stop_event.set)
        self.thread.join(10)
        return self.counters


@pytest.fixture
def store(tmp_path):
    s = store_module.Store(str(tmp_path / "store.sqlite"))
    yield s
    s.db.close()


@pytest.fixture
def running(store):
    started = []

    def start(zero_word=False, request_log=None):
        started.append(RunningServer(store, zero_word, request_log))
        return started[-1]

    yield start
    for s in started:
        if s.thread.is_alive():
            s.stop()
