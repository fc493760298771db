"""A mosquitto broker of the test's own (its port, users, access list and
persistence), head office's client (paho), and the telemetry station program."""

import json
import os
import signal
import socket
import ssl
import sqlite3
import subprocess
import threading
import time

import paho.mqtt.client as mqtt
import pytest

STATION = os.environ.get("TELEMETRY_STATION", "telemetry_station")
PREFIX = "zarvik/s1"
PASSWORDS = {"station": "station-secret", "headoffice": "office-secret", "intruder": "intruder-secret"}
# The station writes only its own topics and reads only its commands; head
# office reads and writes everything; the intruder may only read.
ACL = f"""user station
topic write {PREFIX}/status
topic write {PREFIX}/pumps/#
topic write {PREFIX}/lines/#
topic write {PREFIX}/transactions/#
topic write {PREFIX}/totals
topic write {PREFIX}/replies
topic read {PREFIX}/commands

user headoffice
topic readwrite zarvik/#

user intruder
topic read zarvik/#
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return False


def wait_for(predicate, timeout, what):
    if not wait_until(predicate, timeout):
        raise AssertionError(f"timed out waiting for {what}")


def make_certificates(folder):
    """A CA, the broker's certificate for 127.0.0.1 and a client certificate for
    every user (its name as the common name); returns their paths."""
    def run(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True)

    def key_and_request(name, subject):
        run("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", str(folder / f"{name}.key"), "-out", str(folder / f"{name}.csr"), "-subj", subject)

    def sign(name, extensions):
        (folder / f"{name}.ext").write_text(extensions)
        run("x509", "-req", "-in", str(folder / f"{name}.csr"), "-CA", str(folder / "ca.pem"),
            "-CAkey", str(folder / "ca.key"), "-CAcreateserial", "-days", "2", "-out", str(folder / f"{name}.pem"),
            "-extfile", str(folder / f"{name}.ext"))

    run("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
        "-keyout", str(folder / "ca.key"), "-out", str(folder / "ca.pem"), "-subj", "/CN=test CA")
    key_and_request("server", "/CN=127.0.0.1")
    sign("server", "subjectAltName=IP:127.0.0.1\n")
    paths = {"ca": str(folder / "ca.pem"), "cert": str(folder / "server.pem"), "key": str(folder / "server.key")}
    for user in PASSWORDS:
        key_and_request(user, f"/CN={user}")
        sign(user, "extendedKeyUsage=clientAuth\n")
        paths[user] = (str(folder / f"{user}.pem"), str(folder / f"{user}.key"))
    return paths


class Broker:
    def __init__(self, folder, tls=None):
        self.folder = folder
        self.port = free_port()
        self.process = None
        passwords = folder / "passwords"
        for i, (user, password) in enumerate(PASSWORDS.items()):
            subprocess.run(["mosquitto_passwd", *(["-c"] if i == 0 else []), "-b", str(passwords), user, password],
                           check=True, capture_output=True)
        (folder / "acl").write_text(ACL)
        lines = [f"listener {self.port} 127.0.0.1", "allow_anonymous false", f"password_file {passwords}",
                 f"acl_file {folder / 'acl'}", "persistence true", f"persistence_location {folder}/",
                 "log_dest stderr", "log_type error", "log_type warning"]
        if os.geteuid() == 0:
            lines.append("user root")  # keep to the test's files instead of changing to "mosquitto"
        if tls:  # client certificates only: their common name is the user the access list knows
            lines = [line for line in lines if not line.startswith("password_file")]
            lines += [f"cafile {tls['ca']}", f"certfile {tls['cert']}", f"keyfile {tls['key']}",
                      "require_certificate true", "use_identity_as_username true"]
        (folder / "mosquitto.conf").write_text("\n".join(lines) + "\n")

    def start(self):
        self.log = open(self.folder / "broker.log", "ab")
        self.process = subprocess.Popen(["mosquitto", "-c", str(self.folder / "mosquitto.conf")],
                                        stdout=self.log, stderr=self.log)
        def listening():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", self.port)) == 0
        wait_for(listening, 10, "the broker to listen")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)  # saves its persistence on the way out
            self.process.wait(10)
        self.process = None
        self.log.close()


class Client:
    """A paho client that keeps every message it gets, in order."""

    def __init__(self, broker, user, client_id, subscribe=None, tls=None):
        self.messages = []
        self.lock = threading.Lock()
        self.client = mqtt.Client(client_id=client_id, clean_session=False)
        if tls:
            self.client.tls_set(ca_certs=tls["ca"], certfile=tls[user][0], keyfile=tls[user][1],
                                tls_version=ssl.PROTOCOL_TLS_CLIENT)
        else:
            self.client.username_pw_set(user, PASSWORDS[user])
        self.client.reconnect_delay_set(1, 2)
        self.subscribe = subscribe

        def on_connect(client, userdata, flags, rc):
            if rc == 0 and self.subscribe:
                client.subscribe(self.subscribe, qos=1)

        def on_message(client, userdata, message):
            with self.lock:
                self.messages.append((message.topic, message.payload.decode("utf-8"), message.retain))

        self.client.on_connect = on_connect
        self.client.on_message = on_message
        self.client.connect("127.0.0.1", broker.port)
        self.client.loop_start()

    def taken(self, topic_start=""):
        with self.lock:
            return [m for m in self.messages if m[0].startswith(topic_start)]

    def publish(self, topic, payload):
        info = self.client.publish(topic, payload, qos=1)
        info.wait_for_publish()

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


class Station:
    def __init__(self, folder, broker, sales=0, every_ms=100, extra=None, tls=None):
        self.folder = folder
        self.journal = folder / "sales.db"
        telemetry = {"broker": f"127.0.0.1:{broker.port}", "prefix": PREFIX}
        if tls:
            telemetry["tls"] = {"ca": tls["ca"], "certificate": tls["station"][0], "key": tls["station"][1]}
        else:
            telemetry.update({"user": "station", "passwordFile": str(folder / "station-password")})
        telemetry.update(extra or {})
        password = folder / "station-password"
        password.write_text(PASSWORDS["station"] + "\n")
        password.chmod(0o600)
        self.args = [STATION, "--service", json.dumps({"telemetry": telemetry}), "--journal", str(self.journal),
                     "--sales", str(sales), "--every-ms", str(every_ms)]
        self.process = None

    def start(self):
        self.out = open(self.folder / "station.out", "ab")
        self.err = open(self.folder / "station.err", "ab")
        self.process = subprocess.Popen(self.args, stdout=self.out, stderr=self.err)

    def kill(self):
        self.process.kill()
        self.process.wait(10)
        self.out.close()
        self.err.close()

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(10)
            self.out.close()
            self.err.close()

    def printed(self, word):
        return [line.split()[1:] for line in (self.folder / "station.out").read_text().splitlines()
                if line.startswith(word + " ")]

    def ended_sales(self):
        with sqlite3.connect(self.journal) as db:
            return {row[0]: row for row in db.execute(
                "SELECT id, line, dispenser, nozzle, price, litres, money, total_before, total_after, state "
                "FROM sales WHERE ended_at IS NOT NULL")}


@pytest.fixture
def broker(tmp_path):
    b = Broker(tmp_path)
    b.start()
    yield b
    b.stop()


@pytest.fixture
def cleanup():
    """Things to stop at the end, whatever happens."""
    items = []
    yield items
    for item in reversed(items):
        try:
            item()
        except Exception:
            pass
