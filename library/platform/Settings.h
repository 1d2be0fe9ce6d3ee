#pragma once

#include "platform/Setting.h"

// Every setting the library, the desktop client and the headless client read, with the default a
// read returns when it is missing. Where a window reads with a default of its own, it says so
// with Setting::read(windowDefault); the defaults here are the main window's and the library's.
namespace cfb::Settings {

// The service channel; the library writes these back at every start.
inline constexpr Setting ServiceHost{"Data", "CFBSERVER", "127.0.0.1:8080"};
inline constexpr Setting ServicePath{"Data", "CFBASP", "cfb_maint.asp"};
inline constexpr Setting SendTimeout{"Data", "SEND_TIMEOUT", "20000"};
inline constexpr Setting ReceiveTimeout{"Data", "RECV_TIMEOUT", "30000"};
inline constexpr Setting ConnectTimeout{"Data", "CONN_TIMEOUT", "5000"};
// A PEM file of private authorities trusted for an https service; read, never written back.
inline constexpr Setting CaFile{"Data", "CA File", ""};

// Peers and presence.
inline constexpr Setting DataPort{"Data", "DataPort", "80"};
// The local address the data port is bound to; empty binds every address. A second user on one
// machine takes another loopback address (127.0.0.2) so both can use the one shared port.
inline constexpr Setting DataAddress{"Data", "Data Address", ""};
inline constexpr Setting PollingInterval{"Data", "Polling Interval", "30"};
// Whether the router is asked to forward the data port (UPnP IGD, NAT-PMP); "0" leaves it alone.
inline constexpr Setting MapDataPort{"Data", "Map Data Port", "1"};
inline constexpr Setting BlockAllData{"Debug", "Block All Data", "False"};

// The desktop client's account and start-up.
inline constexpr Setting IsRegistered{"Data", "IsRegistered", ""};
inline constexpr Setting Handle{"Data", "handle", ""};
inline constexpr Setting Password{"Data", "password", ""};
inline constexpr Setting AutoLogin{"Data", "AutoLogin", ""};
inline constexpr Setting HostName{"Data", "hostname", ""};
inline constexpr Setting AutoRun{"Data", "AutoRun", "0"};
inline constexpr Setting Taskbar{"Data", "Taskbar", "0"};
inline constexpr Setting DisplayErrors{"Data", "Display Errors", ""};
// "0" after the user chose "Don't ask again" at the start-up offer to invite someone.
inline constexpr Setting OfferInvitation{"Data", "Offer Invitation", "1"};
inline constexpr Setting DownloadUrl{"Data", "Download URL", "https://confabo.example.org/download"};

// Speech. The setup dialog shows speech unchecked when the key is missing.
inline constexpr Setting EnableSpeech{"Data", "Enable Speech", "1"};
inline constexpr Setting DefaultVoiceMode{"Data", "Default Voice Mode", "1"};
inline constexpr BuddySetting Speaker{"Speaker", "1"};

// Video. The setup dialog shows a rate of "10" when the key is missing.
inline constexpr Setting FrameRate{"Data", "Frame Rate", "5"};
inline constexpr Setting ImageQuality{"Data", "Image Quality", "75"};
inline constexpr Setting VideoWidth{"Data", "Video Width", "160"};
inline constexpr Setting VideoHeight{"Data", "Video Height", "120"};
inline constexpr Setting VideoSource{"Data", "Video Source", ""};
// Whether sent frames are encoded straight from the camera's planes ("1") or through the exact
// bitmap path ("0"); the Video Compression dialog keeps it.
inline constexpr Setting EncodeFromPlanes{"Data", "Encode From Planes", "1"};

// Calls. The devices by their id (Qt Multimedia's, as the setup dialog lists them), empty for
// the system's default; how long a call rings before it ends as missed.
inline constexpr Setting AudioInput{"Data", "Audio Input", ""};
inline constexpr Setting AudioOutput{"Data", "Audio Output", ""};
inline constexpr Setting CallRingSeconds{"Data", "Call Ring Seconds", "45"};

// Speech voice tuning, kept by the voices dialog: espeak-ng's words per minute (80 to 450), base
// pitch (0 to 100) and volume (0 to 200), and the dialog's test phrase.
inline constexpr Setting SpeechRate{"Data", "Speech Rate", "175"};
inline constexpr Setting SpeechPitch{"Data", "Speech Pitch", "50"};
inline constexpr Setting SpeechVolume{"Data", "Speech Volume", "100"};
inline constexpr Setting SpeechTestPhrase{"Data", "Speech Test Phrase", "Hello! This is how I sound."};

} // namespace cfb::Settings
