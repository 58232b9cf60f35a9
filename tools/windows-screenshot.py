#!/usr/bin/env python3
# Takes docs/varnel-window-windows.png: varnel.exe under Wine on a virtual X server (Xvfb on :93
# must run), linked through the test relay to a pseudo-terminal as COM3 and to a loopback server,
# with a few lines of traffic each way. Needs the build/win64 tree, the test prefix
# (scripts/wine-prefix), ImageMagick (import, convert) and libXtst for the click on Open.
#   Xvfb :93 -screen 0 1100x800x24 &  tools/windows-screenshot.py
import ctypes, os, socket, subprocess, tempfile, time

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
relay = os.path.join(top, 'build/win64/tests/win32/varnel-pty-relay')
prefix = os.path.join(top, 'build/wineprefix')
work = tempfile.mkdtemp(prefix='varnel-shot-')
env = dict(os.environ, DISPLAY=':93', WINEPREFIX=prefix, WINEDEBUG='-all')
subprocess.run([relay, 'start', work + '/relay', prefix, 'com3'], check=True)
try:
    relay_port = int(open(work + '/relay/port').read())
    srv = socket.socket()
    srv.bind(('127.0.0.1', 0))
    srv.listen(1)
    with open(work + '/VarnelConfig.ini', 'wb') as f:
        f.write(b'[Socket]\r\nServerIP=127.0.0.1\r\nPORT=%d\r\n[SYSTEM]\r\nHEX=0\r\nREOPEN=0\r\n'
                % srv.getsockname()[1])
    dev = socket.create_connection(('127.0.0.1', relay_port))
    assert dev.recv(1) == b'R'
    p = subprocess.Popen(['wine', 'explorer', '/desktop=Varnel,1060x800',
                          os.path.join(top, 'build/win64/bin/varnel.exe')], env=env, cwd=work,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(5)
    x = ctypes.CDLL('libX11.so.6')
    t = ctypes.CDLL('libXtst.so.6')
    x.XOpenDisplay.restype = ctypes.c_void_p
    d = ctypes.c_void_p(x.XOpenDisplay(b':93'))
    t.XTestFakeMotionEvent(d, 0, 680, 102, 0)  # the Open button
    t.XTestFakeButtonEvent(d, 1, 1, 0)
    t.XTestFakeButtonEvent(d, 1, 0, 0)
    x.XFlush(d)
    srv.settimeout(10)
    c, _ = srv.accept()
    for side, text in ((dev, '温度 23.5C 湿度 41%\r\n'),
                       (dev, '$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n'),
                       (c, '打开阀门 1\r\n'), (c, 'READ 0x10 0x04\r\n'), (dev, '状态: 正常\r\n')):
        time.sleep(0.4)
        side.sendall(text.encode('gbk'))
    time.sleep(1.0)
    shot = work + '/shot.png'
    subprocess.run(['import', '-window', 'root', shot], env=env, check=True)
    subprocess.run(['convert', shot, '-crop', '1006x742+26+30', '+repage',
                    os.path.join(top, 'docs/varnel-window-windows.png')], check=True)
    p.kill()
finally:
    subprocess.run(['wineserver', '-k'], env=env)
    subprocess.run([relay, 'stop', work + '/relay'])
