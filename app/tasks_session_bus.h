#pragma once

// Ulmora uses the session bus of the desktop (notifications, the keyring) and
// never starts one itself. Without a bus address and without the user's bus
// socket, libdbus and GDBus would "autolaunch" a bus of their own on an X
// display (dbus-launch); QtKeychain's question to the keyring through it can
// then start a keyring daemon whose "choose a password" dialog covers the
// screen. Called first thing in the program entry, before any thread or bus
// connection exists: it changes the process environment.
void NeverLaunchSessionBus();
