#!/usr/bin/python3
"""A stand-in OAuth 2.0 authorization server for the tests, on a loopback port.

Endpoints: GET /authorize (answers with a redirect at once, as if the user had agreed),
POST /token (authorization_code with PKCE S256, refresh_token), POST /introspect (RFC 7662, as
Dovecot's oauth2 passdb asks it), and for the test: POST /control (JSON: expires_in,
refuse, wrong_state, expire_access, revoke_refresh) and GET /log (what was asked so far).
Prints "PORT <n>" on its first line once it listens.
"""
import base64
import hashlib
import json
import secrets
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CLIENT_ID = sys.argv[1] if len(sys.argv) > 1 else "mailvane-test"
USER = sys.argv[2] if len(sys.argv) > 2 else "alice"

lock = threading.Lock()
settings = {"expires_in": 3600, "refuse": False, "wrong_state": False}
codes = {}  # code -> (challenge, redirect_uri)
access = {}  # token -> expiry time
refresh = set()
log = {"authorize": 0, "code_grants": 0, "refresh_grants": 0, "refused_grants": 0,
       "introspections": 0, "active_introspections": 0, "problems": []}


def problem(text):
    log["problems"].append(text)


def issue_access():
    token = "at-" + secrets.token_urlsafe(16)
    access[token] = time.time() + settings["expires_in"]
    return token


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=()):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def form(self):
        length = int(self.headers.get("Content-Length", 0))
        raw = self.rfile.read(length).decode()
        if self.headers.get("Content-Type", "").startswith("application/json"):
            return json.loads(raw or "{}")
        return {k: v[0] for k, v in urllib.parse.parse_qs(raw, keep_blank_values=True).items()}

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        with lock:
            if url.path == "/log":
                return self.answer(200, log)
            if url.path != "/authorize":
                return self.answer(404, {"error": "not_found"})
            log["authorize"] += 1
            redirect = query.get("redirect_uri", "")
            if query.get("client_id") != CLIENT_ID:
                problem("authorize: client_id " + query.get("client_id", ""))
            if query.get("response_type") != "code":
                problem("authorize: response_type " + query.get("response_type", ""))
            if query.get("code_challenge_method") != "S256" or not query.get("code_challenge"):
                problem("authorize: no S256 challenge")
            if not redirect.startswith("http://127.0.0.1:"):
                problem("authorize: redirect_uri " + redirect)
            if settings["refuse"]:
                target = {"error": "access_denied", "state": query.get("state", "")}
            else:
                code = secrets.token_urlsafe(12)
                codes[code] = (query.get("code_challenge", ""), redirect)
                state = "forged" if settings["wrong_state"] else query.get("state", "")
                target = {"code": code, "state": state}
        self.send_response(302)
        self.send_header("Location", redirect + ("&" if "?" in redirect else "?") + urllib.parse.urlencode(target))
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        form = self.form()
        with lock:
            if url.path == "/control":
                for key in ("expires_in", "refuse", "wrong_state"):
                    if key in form:
                        settings[key] = form[key]
                if form.get("expire_access"):
                    for token in access:
                        access[token] = 0
                if form.get("revoke_refresh"):
                    refresh.clear()
                return self.answer(200, {})
            if url.path == "/introspect":
                log["introspections"] += 1
                token = form.get("token", "")
                active = access.get(token, 0) > time.time()
                if active:
                    log["active_introspections"] += 1
                    return self.answer(200, {"active": True, "username": USER, "scope": "mail"})
                return self.answer(200, {"active": False})
            if url.path != "/token":
                return self.answer(404, {"error": "not_found"})
            if form.get("client_id") != CLIENT_ID:
                problem("token: client_id " + form.get("client_id", ""))
                return self.answer(401, {"error": "invalid_client"})
            grant = form.get("grant_type")
            if grant == "authorization_code":
                log["code_grants"] += 1
                challenge, redirect = codes.pop(form.get("code", ""), (None, None))
                verifier = form.get("code_verifier", "")
                computed = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).rstrip(b"=").decode()
                if challenge is None:
                    problem("token: unknown code")
                elif computed != challenge:
                    problem("token: PKCE verifier does not match")
                elif form.get("redirect_uri") != redirect:
                    problem("token: redirect_uri " + form.get("redirect_uri", ""))
                else:
                    token = "rt-" + secrets.token_urlsafe(16)
                    refresh.add(token)
                    return self.answer(200, {"access_token": issue_access(), "token_type": "Bearer",
                                             "expires_in": settings["expires_in"], "refresh_token": token})
                return self.answer(400, {"error": "invalid_grant"})
            if grant == "refresh_token":
                if form.get("refresh_token") in refresh:
                    log["refresh_grants"] += 1
                    return self.answer(200, {"access_token": issue_access(), "token_type": "Bearer",
                                             "expires_in": settings["expires_in"]})
                log["refused_grants"] += 1
                return self.answer(400, {"error": "invalid_grant", "error_description": "revoked"})
            return self.answer(400, {"error": "unsupported_grant_type"})


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print("PORT", server.server_address[1], flush=True)
server.serve_forever()
