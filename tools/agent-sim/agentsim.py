"""Drives the agent-sim command from Python end-to-end tests (standard library only).

    with AgentSim("build/tools/agent-sim/agent-sim", state_dir, pin="123456") as sim:
        sim.lock(message="Locked by IT")
        ...
        assert sim.requests("/presence")

Every method maps onto one route of the control API described in README.md next to this file.
"""

import base64
import json
import select
import subprocess
import urllib.error
import urllib.request


class AgentSimError(RuntimeError):
    pass


class AgentSim:
    def __init__(self, binary, state_dir, pin=None, session=None, scenario=None, args=(), start_timeout=10):
        command = [binary, "--dir", state_dir]
        if pin is not None:
            command += ["--pin", pin]
        if session is not None:
            command += ["--session", session]
        if scenario is not None:
            command += ["--scenario", scenario]
        command += list(args)
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], start_timeout)
        line = self.process.stdout.readline() if ready else ""
        if not line:
            self.process.kill()
            self.process.wait()
            raise AgentSimError("agent-sim did not start")
        self.info = json.loads(line)
        self.port = self.info["port"]
        self.control_port = self.info["control_port"]
        self.base_url = self.info["base_url"]
        self.session = self.info["session"]
        self.dir = self.info["dir"]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    # -- plumbing -------------------------------------------------------------------------

    @staticmethod
    def _send(url, body=None, headers=None, method="POST", timeout=10):
        data = None if body is None else (body if isinstance(body, bytes) else json.dumps(body).encode())
        request = urllib.request.Request(url, data=data, method=method, headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=timeout) as reply:
                return reply.status, reply.read()
        except urllib.error.HTTPError as error:
            return error.code, error.read()

    def control(self, route, body=None):
        status, raw = self._send(f"http://127.0.0.1:{self.control_port}/control/{route}", body or {})
        answer = json.loads(raw or b"{}")
        if status != 200:
            raise AgentSimError(f"/control/{route}: {status} {answer.get('error')}")
        return answer

    def get(self, route):
        status, raw = self._send(f"http://127.0.0.1:{self.control_port}/control/{route}", method="GET")
        if status != 200:
            raise AgentSimError(f"/control/{route}: {status}")
        return raw

    def api(self, path, body, session=True):
        """Calls the local API as the application would; returns (status, parsed JSON or None)."""
        headers = {"Content-Type": "application/json"}
        if session is True:
            headers["X-Pelk-Session"] = self.session
        elif session:
            headers["X-Pelk-Session"] = session
        status, raw = self._send(self.base_url + path, body, headers)
        try:
            return status, json.loads(raw)
        except ValueError:
            return status, None

    # -- the agent's state ------------------------------------------------------------------

    def status(self, phase, message, **fields):
        return self.control("status", dict(fields, phase=phase, message=message))

    def lock(self, message=None, command_uuid=None, locked=True):
        body = {"locked": locked}
        if message is not None:
            body["message"] = message
        if command_uuid is not None:
            body["command_uuid"] = command_uuid
        return self.control("lock", body)["command_uuid"]

    def unlock(self):
        return self.control("unlock")

    def set_pin(self, pin):
        return self.control("pin", {"pin": pin})

    def offer(self, technician="IT support", mode="view", session_id=None, expires_in=600, **fields):
        body = dict(fields, technician=technician, mode=mode, expires_in=expires_in)
        if session_id is not None:
            body["session_id"] = session_id
        return self.control("offer", body)["session_id"]

    def withdraw_offer(self):
        return self.control("offer", {"clear": True})

    def restart(self, application, notice_id=None):
        body = {"application": application}
        if notice_id is not None:
            body["id"] = notice_id
        return self.control("restart", body)["id"]

    def events(self, events, raw=False):
        return self.control("events", {"events": events, "raw": raw})["events"]

    def override(self, endpoint, **fields):
        return self.control("override", dict(fields, endpoint=endpoint))

    def raw(self, file, data):
        return self.control("raw", {"file": file, "bytes_b64": base64.b64encode(data).decode()})

    def remove(self, file):
        return self.control("remove", {"file": file})

    # -- what it saw ------------------------------------------------------------------------

    def state(self):
        return json.loads(self.get("state"))

    def requests(self, path=None, since=0):
        query = f"requests?since={since}" + (f"&path={path}" if path else "")
        return json.loads(self.get(query))["requests"]

    def frame(self):
        return self.get("frame")

    def stop(self, timeout=10):
        if self.process.poll() is not None:
            return self.process.returncode
        try:
            self.control("quit")
        except (OSError, AgentSimError):
            pass
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return self.process.wait()
        finally:
            self.process.stdout.close()
