"""An HTTPS server on port 443 that stands for every web service the examples
call. Each route names the credential it takes; a request that brings it, as a
bearer token (`Bearer` or `token`) or as HTTP Basic credentials (decoded and
compared whole), gets a JSON answer that repeats its Authorization header, so
that the example's output shows how the secret comes back redacted. Any other
request gets 401 or 404. Every request is logged, with whether it was let in."""

from __future__ import annotations

import base64
import json
import ssl
import threading
from dataclasses import dataclass
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from typing import Any


@dataclass(frozen=True)
class Route:
    host: str
    method: str
    path: str
    credential: str | None  # the secret the request must bring; None: a public page


@dataclass(frozen=True)
class Site:
    """The certificate a set of host names is served with."""

    host_names: tuple[str, ...]
    certificate: Path
    key: Path


def presented_secret(authorization: str) -> str | None:
    scheme, _, value = authorization.partition(" ")
    if scheme in ("Bearer", "token"):
        return value
    if scheme == "Basic":
        _, _, password = base64.b64decode(value).decode(errors="replace").partition(":")
        return password
    return None


class HttpsServer:
    def __init__(self, sites: list[Site], routes: list[Route]) -> None:
        self.requests: list[dict[str, Any]] = []
        self._lock = threading.Lock()
        contexts = {}
        for site in sites:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(site.certificate, site.key)
            contexts.update(dict.fromkeys(site.host_names, context))
        default = contexts[sites[0].host_names[0]]

        def choose_site(connection: ssl.SSLObject, name: str | None, _: ssl.SSLContext) -> None:
            connection.context = contexts.get(name or "", default)

        default.sni_callback = choose_site
        self._server = ThreadingHTTPServer(("127.0.0.1", 443), self._handler(routes))
        self._server.socket = default.wrap_socket(
            self._server.socket, server_side=True, do_handshake_on_connect=False
        )
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)

    def __enter__(self) -> HttpsServer:
        self._thread.start()
        return self

    def __exit__(self, *_: object) -> None:
        self._server.shutdown()
        self._server.server_close()

    def _log(self, entry: dict[str, Any]) -> None:
        with self._lock:
            self.requests.append(entry)

    def _handler(self, routes: list[Route]) -> type[BaseHTTPRequestHandler]:
        server = self

        class Handler(BaseHTTPRequestHandler):
            def do_GET(self) -> None:
                self.answer()

            def do_POST(self) -> None:
                self.answer()

            def answer(self) -> None:
                self.rfile.read(int(self.headers.get("Content-Length") or 0))
                host = (self.headers.get("Host") or "").partition(":")[0]
                path = self.path.partition("?")[0]
                authorization = self.headers.get("Authorization", "")
                route = next(
                    (
                        route
                        for route in routes
                        if (route.host, route.method, route.path) == (host, self.command, path)
                    ),
                    None,
                )
                let_in = route is not None and (
                    route.credential is None or presented_secret(authorization) == route.credential
                )
                server._log({"host": host, "method": self.command, "path": path, "let_in": let_in})
                status = 200 if let_in else 404 if route is None else 401
                body = {"host": host, "path": path}
                if let_in and authorization:
                    body["authorization"] = authorization
                self.reply(status, json.dumps(body) + "\n")

            def reply(self, status: int, text: str) -> None:
                encoded = text.encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(encoded)))
                self.end_headers()
                self.wfile.write(encoded)

            def log_message(self, *_: object) -> None:
                pass  # the request log above says what matters

        return Handler
