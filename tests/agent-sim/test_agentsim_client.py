"""The Python driver of agent-sim against the real command: what end-to-end tests rely on."""

import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "agent-sim"))
from agentsim import AgentSim, AgentSimError  # noqa: E402

BINARY = sys.argv.pop(1) if len(sys.argv) > 1 else "agent-sim"


def read_json(path):
    with open(path, "rb") as f:
        return json.loads(f.read())


class AgentSimClientTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.sim = AgentSim(BINARY, self.tmp.name, pin="135790")

    def tearDown(self):
        self.sim.stop()
        self.tmp.cleanup()

    def test_lock_and_pin(self):
        uuid = self.sim.lock(message="Call IT")
        lock_file = os.path.join(self.tmp.name, "agent-lock.json")
        self.assertEqual(read_json(lock_file)["command_uuid"], uuid)
        self.assertEqual(self.sim.api("/unlock", {"pin": "000000"})[0], 401)
        self.assertEqual(self.sim.api("/unlock", {"pin": "135790"}, session="other")[0], 403)
        self.assertTrue(read_json(lock_file)["locked"])
        self.assertEqual(self.sim.api("/unlock", {"pin": "135790"})[0], 200)
        self.assertFalse(read_json(lock_file)["locked"])
        statuses = [r["status"] for r in self.sim.requests("/unlock")]
        self.assertEqual(statuses, [401, 403, 200])

    def test_support_session_and_override(self):
        session_id = self.sim.offer(technician="Sam", mode="control")
        self.assertEqual(self.sim.api("/support", {"action": "accept", "session_id": session_id})[1]["status"],
                         "active")
        queued = self.sim.events([{"type": "key", "key": "KeyC"}])
        self.assertEqual(queued[0]["sequence"], 1)
        answer = self.sim.api("/support", {"action": "frame", "session_id": session_id, "jpeg": "/9j/"})[1]
        self.assertEqual([e["key"] for e in answer["events"]], ["KeyC"])
        self.assertEqual(self.sim.frame(), b"\xff\xd8\xff")
        self.sim.override("support", status=500, times=1)
        self.assertEqual(self.sim.api("/support", {"action": "poll", "session_id": session_id})[0], 500)
        self.assertEqual(self.sim.state()["support_state"], "active")

    def test_raw_files_and_errors(self):
        self.sim.raw("status", b"\x00{")
        with open(os.path.join(self.tmp.name, "agent-status.json"), "rb") as f:
            self.assertEqual(f.read(), b"\x00{")
        with self.assertRaises(AgentSimError):
            self.sim.raw("elsewhere", b"")
        self.assertEqual(self.sim.stop(), 0)


if __name__ == "__main__":
    unittest.main()
