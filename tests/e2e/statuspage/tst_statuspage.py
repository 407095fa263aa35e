#!/usr/bin/env python3
"""The status page in headless chromium against the desk remote on loopback.
Arguments: the desk runner, the screenshot to write, the emulator of a cross build (may be empty)."""
import base64, json, os, socket, subprocess, sys, tempfile, threading, time

if os.environ.get("NORVIK_NETNS") is None and subprocess.call(["unshare", "--net", "true"]) == 0:
    os.environ["NORVIK_NETNS"] = "1"  # a namespace of our own: the desk's fixed ports collide with no one
    os.execvp("unshare", ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$@"', "-", sys.executable] + sys.argv)
emulator = sys.argv[3].split(";") if len(sys.argv) > 3 and sys.argv[3] else []
desk = subprocess.Popen(emulator + [sys.argv[1], "--seconds", "120", "--http-port", "18088"], stdout=subprocess.PIPE, text=True)
lines = []
threading.Thread(target=lambda: [lines.append(l) for l in desk.stdout], daemon=True).start()
a_r, a_w = os.pipe(); b_r, b_w = os.pipe()
def dup(): os.dup2(a_r, 3); os.dup2(b_w, 4)
profile = tempfile.TemporaryDirectory()
browser = subprocess.Popen(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                            "--disable-background-networking", "--disable-component-update", "--disable-sync",
                            "--user-data-dir=" + profile.name, "--remote-debugging-pipe", "--window-size=1000,1400",
                            "about:blank"], pass_fds=(3, 4), preexec_fn=dup, stderr=subprocess.DEVNULL)
os.close(a_r); os.close(b_w)
calls, pending = [0], [b""]

def cdp(method, session=None, **params):
    calls[0] += 1
    message = {"id": calls[0], "method": method, "params": params}
    if session: message["sessionId"] = session
    os.write(a_w, json.dumps(message).encode() + b"\0")
    while True:
        while b"\0" not in pending[0]:
            chunk = os.read(b_r, 1 << 16)
            if not chunk: fail("the browser went away")
            pending[0] += chunk
        text, _, pending[0] = pending[0].partition(b"\0")
        m = json.loads(text)
        if m.get("id") == calls[0]:
            assert "error" not in m, m
            return m["result"]

def fail(why):
    print("FAIL:", why, "\n" + "".join(lines[-40:]))
    sys.exit(1)

def wait_for(what, expr, seconds=40):
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = js("(() => { try { return %s; } catch (e) { return false; } })()" % expr)  # the page may still be loading
        if value:
            return value
        time.sleep(0.2)
    fail(what + ": " + str(js("document.body.innerText.slice(0, 1500)")))

def wait_line(text, why, start=0):
    deadline = time.time() + 30
    while (found := next((i for i in range(start, len(lines)) if text in lines[i]), None)) is None:
        if time.time() > deadline: fail(why)
        time.sleep(0.2)
    return found

class FeedProxy:
    """Carries the page's WebSocket to the remote's feed, and can cut it as a dropped network would."""
    def __init__(self, port, target):
        self.port, self.target, self.conns = port, target, []
    def start(self):
        self.server = socket.create_server(("127.0.0.1", self.port))
        threading.Thread(target=self.accept, args=(self.server,), daemon=True).start()
    def accept(self, server):
        while True:
            try: a = server.accept()[0]
            except OSError: return
            b = socket.create_connection(("127.0.0.1", self.target))
            self.conns += [a, b]
            threading.Thread(target=self.pump, args=(a, b), daemon=True).start()
            threading.Thread(target=self.pump, args=(b, a), daemon=True).start()
    def pump(self, source, sink):
        try:
            while data := source.recv(65536): sink.sendall(data)
        except OSError: pass
        self.close(source, sink)
    def close(self, *sockets):
        for s in sockets:
            try: s.shutdown(socket.SHUT_RDWR)
            except OSError: pass
    def cut(self):
        self.close(self.server, *self.conns)
        self.server.close()

try:
    address = lines[wait_line("status page http://", "the desk runner never printed the page address")]
    url = address.split()[2].rstrip(",") + "?ws=16259"
    proxy = FeedProxy(16259, 6259)
    proxy.start()
    page = next(t for t in cdp("Target.getTargets")["targetInfos"] if t["type"] == "page")
    session = cdp("Target.attachToTarget", targetId=page["targetId"], flatten=True)["sessionId"]
    def js(expression):
        result = cdp("Runtime.evaluate", session, expression=expression, returnByValue=True)
        if "exceptionDetails" in result: fail("the page threw on " + expression + ": " + str(result["exceptionDetails"]))
        return result["result"].get("value")
    cdp("Page.navigate", session, url=url)
    state = "document.getElementById('state').textContent"
    wait_for("the page never connected to the live feed", "document.getElementById('feed').textContent.includes('connected')")
    # Every 14 s round of the desk script: handshake (SELECTED), arm, later disarm and a new handshake.
    wait_for("SELECTED never shown", state + " === 'SELECTED'")
    wait_for("the RC state tag never read Selected", "document.getElementById('rc-state').textContent === 'Selected'")
    wait_for("ARMED never followed SELECTED", state + ".startsWith('ARMED')")
    wait_for("the RC state tag never read Armed", "document.getElementById('rc-state').textContent === 'Armed'")
    # Disarm through the control panel: only after the confirmation, and well before the script's own
    # disarm, which the internal processor answers only after it "stops answering" for a while.
    js("document.getElementById('disarm').click()")
    wait_for("Disarm asked for no confirmation", "!document.getElementById('confirm').hidden")
    clicked = len(lines)
    js("document.getElementById('confirm-yes').click()")
    selected = wait_line("RC state  SELECTED", "the page's disarm never reached the remote", clicked)
    if any("stops answering" in l for l in lines[clicked:selected]): fail("the page's disarm did not act")
    joystick = "document.querySelector('tr[data-tag=joystick_01] .value').textContent"
    wait_for("joystick_01 not from the live feed", "document.querySelector('tr[data-tag=joystick_01]').cells[3].textContent === 'feed'")
    wait_for("no label from the tag tables", "document.querySelector('tr[data-tag=joystick_01]').cells[1].textContent === 'Joystick 1'")
    visible = "Array.from(document.querySelectorAll('#tags tr')).filter(r => !r.hidden).map(r => r.dataset.tag).join()"
    search = "(s => { s.value = '%s'; s.dispatchEvent(new Event('input')); })(document.getElementById('search'))"
    js(search % "rc stat")
    wait_for("the search by label did not leave only the RC state tags", visible + " === 'rc_state,state'")
    first = wait_for("no live joystick value", joystick)
    wait_for("the joystick value never moved on screen", joystick + " !== " + json.dumps(first))
    wait_for("no link-health counters", "document.querySelectorAll('#health tr').length === 7")
    wait_for("the notification never appeared", "!!document.querySelector('tr[data-reference=\"7\"].sev-1 button.ack')")
    js("document.querySelector('tr[data-reference=\"7\"] button.ack').click(); document.getElementById('confirm-yes').click()")
    wait_line("popup #7 acknowledged on the line", "the acknowledgement never reached the internal processor")
    wait_for("the page never showed the notification acknowledged", "!!document.querySelector('tr[data-reference=\"7\"].acked')")
    # The feed drops: the page says it is stale, then reconnects by itself and values move again.
    proxy.cut()
    wait_for("the page never showed the feed stale", "!document.getElementById('stale-banner').hidden && document.body.classList.contains('stale')")
    proxy.start()
    wait_for("the page never reconnected", "document.getElementById('stale-banner').hidden")
    moved = wait_for("no joystick value", joystick)
    wait_for("values never moved after the reconnect", joystick + " !== " + json.dumps(moved))
    js(search % "")
    js("scrollTo(0, 0)")
    shot = cdp("Page.captureScreenshot", session)["data"]
    open(sys.argv[2], "wb").write(base64.b64decode(shot))
    print("screenshot:", sys.argv[2])
finally:
    browser.kill(); desk.kill(); browser.wait(); desk.wait()
