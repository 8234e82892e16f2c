#!/usr/bin/python3
# A stand-in greeter fighting for the screen: every 100 ms it raises its override-redirect window
# and tries to grab the keyboard (held 50 ms when it gets it). After each try it writes
# "<grab status> <1 when its window is on top>" to the file named on the command line.
import ctypes
import os
import sys
import time

x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = x.XCreateWindow.restype = ctypes.c_ulong
u, i = ctypes.c_ulong, ctypes.c_int


class Attributes(ctypes.Structure):  # XSetWindowAttributes
    _fields_ = [("background_pixmap", u), ("background_pixel", u), ("border_pixmap", u), ("border_pixel", u),
                ("bit_gravity", i), ("win_gravity", i), ("backing_store", i), ("backing_planes", u),
                ("backing_pixel", u), ("save_under", i), ("event_mask", ctypes.c_long),
                ("do_not_propagate_mask", ctypes.c_long), ("override_redirect", i), ("colormap", u), ("cursor", u)]


dpy = ctypes.c_void_p(x.XOpenDisplay(None))
if not dpy:
    sys.exit("cannot open the display")
root = u(x.XDefaultRootWindow(dpy))
CW_BACK_PIXEL, CW_OVERRIDE_REDIRECT = 1 << 1, 1 << 9
attrs = Attributes(background_pixel=0x336699, override_redirect=1)
win = u(x.XCreateWindow(dpy, root, 0, 0, 800, 600, 0, 0, 1, None, u(CW_BACK_PIXEL | CW_OVERRIDE_REDIRECT),
                        ctypes.byref(attrs)))
x.XMapRaised(dpy, win)
while True:
    x.XRaiseWindow(dpy, win)
    grab = x.XGrabKeyboard(dpy, win, 0, 1, 1, 0)  # GrabModeAsync, CurrentTime; 1 = AlreadyGrabbed
    x.XSync(dpy, 0)
    r, p, children, n = u(), u(), ctypes.POINTER(u)(), ctypes.c_uint()
    x.XQueryTree(dpy, root, ctypes.byref(r), ctypes.byref(p), ctypes.byref(children), ctypes.byref(n))
    top = int(n.value > 0 and children[n.value - 1] == win.value)
    x.XFree(children)
    with open(sys.argv[1] + ".new", "w") as f:
        f.write(f"{grab} {top}")
    os.replace(sys.argv[1] + ".new", sys.argv[1])
    if grab == 0:
        time.sleep(0.05)
        x.XUngrabKeyboard(dpy, 0)
        x.XSync(dpy, 0)
    time.sleep(0.1)
