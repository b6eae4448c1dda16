// The --help text of kestrel-camsim.
#include "tools/camsim/options.h"

namespace camsim {

std::string usage() {
    return R"(Usage: kestrel-camsim [OPTION]...
A simulated camera on 127.0.0.1: a CGI site with Basic authorisation, a dynamic-DNS
redirector and an RTSP server streaming test pictures. Runs until interrupted (SIGINT or
SIGTERM).

  --port N                 listen on port N; 0 (the default) lets the system choose. The
                           port in use is printed as "listening on 127.0.0.1:PORT".
  --user U                 user name the site asks for (with --password; without either,
                           no authorisation is asked)
  --password P             password the site asks for
  --cgi NAME=BODY          answer NAME (e.g. GetStatus.cgi) with BODY; repeatable
  --values-a NAME=k1:v1,k2:v2
                           answer NAME with key/value pairs in family A form
                           ("key=value<br>" lines); repeatable
  --values-b NAME=k1:v1,k2:v2
                           the same in family B form ("key = value" lines); repeatable
  --redirect NAME=ADDR[:PORT]
                           as a dynamic-DNS redirector, answer "GET /" with "Host: NAME" by
                           a 302 to http://ADDR[:PORT]/; repeatable
  --rtsp-port N            RTSP server port; 0 (the default) lets the system choose. The
                           port in use is printed as "rtsp on 127.0.0.1:PORT".
  --channel SPEC           add the next RTSP channel (CH01, CH02, ...); repeatable. Without
                           any: mpeg4:640x480@30,audio and jpeg:320x240@15. SPEC is
                           CODEC:WxH@FPS[,SETTING]... with CODEC mpeg4, jpeg, h264 or
                           h265 (libx264, libx265: no B-frames, a key frame with its
                           parameter sets every second), sides multiples of 16 (h264 and
                           h265: even) from 16, FPS 1 to 60, and the settings
                             audio       a second track: MPEG audio, a 1 kHz tone
                             live        encode per session instead of replaying a loop
                             start=N     a session's video begins N frames into the
                                         stream, as when joining a camera that was
                                         streaming already (0..1000)
                             type=T      JPEG 0 (4:2:2) or 1 (4:2:0, the default)
                             q=Q         JPEG Q 1..99 (default 75), or 128..255 to send
                                         the quantisation tables in band (Q 6 and 18 give
                                         tables holding FF D9 and FF D8)
                             tables=Q    the quality of those in-band tables, 1..99
                                         (default 80; 6 and 18 as above)
                             restart=N   JPEG restart marker every N MCUs (types 64/65)
                             noeoi       JPEG frames without the end marker FF D9, as
                                         FFmpeg sends them
                             bitrate=K   about K kbit/s of video (MPEG-4, H.264, H.265:
                                         rate control over a grainy pattern; JPEG: the Q
                                         that fits), e.g. h264:1280x720@30,bitrate=4000
                             grain       film grain on every picture, as a camera's
                                         sensor noise (jpeg:1280x720@25,q=85,grain
                                         sends pictures of about 110 kB)
                             packet=N    RTP payloads of at most N bytes (200..65000,
                                         default 1400)
                             sdpconfig   MPEG-4 configuration only in the SDP's config=:
                                         key frames start at the group of VOPs; H.264
                                         and H.265 parameter sets only in the SDP's
                                         sprop-, none in the stream
                             path=P      serve the channel at P too (repeatable), e.g.
                                         path=/Streaming/Channels/101 or
                                         path=/cam/realmonitor?channel=1&subtype=0; its
                                         tracks are trackID=0 and trackID=1
                             pathonly    not at CHnn, only at its paths
                           the quirks of real servers
                             lowerheaders
                                         reply headers in lower case with odd blanks
                                         ("cseq:1", "content-length:  80")
                             abscontrol  a=control:rtsp://127.0.0.1:PORT/path/track
                             querybase   a mount with a query names it in Content-Base
                                         and the controls follow it (Dahua):
                                         .../realmonitor?channel=1&subtype=0/trackID=0;
                                         else the query follows the control
                                         (.../realmonitor/trackID=0?channel=1&subtype=0)
                             nobase      DESCRIBE without Content-Base
                             notype      DESCRIBE without Content-Type
                             sdplf       SDP lines end in LF alone
                             sdpblanks   SDP lines end in blanks before the line end
                             sdplower    encoding names in lower case (mp4v-es, jpeg,
                                         h264, h265)
                             extramap    an a=rtpmap of another payload type (H264)
                                         before the video's own
                             pt=N        the video's dynamic payload type, 96..127
                             ext=N       an RTP header extension (one-byte form, random
                                         contents) on packets 1, N+1, ... (1: all)
                             ext2=N      the same in the two-byte form
                             pad=N       1-255 bytes of RTP padding on packets 1, N+1, ...
                             shortrtcp   interleaved: a 4-byte and an 8-byte empty
                                         receiver report after every sender report, an
                                         8-byte BYE before the TEARDOWN reply
                             channels=N  interleave video on N, N+1 and audio on N+2,
                                         N+3 whatever the client asks (the SETUP reply
                                         says so)
                             getparam=S  a GET_PARAMETER of the server's own (with a CSeq
                                         of its own) every S seconds on the RTSP
                                         connection; the client must answer it
                             setparam=S  the same with SET_PARAMETER
                             earlyrtp    the first RTP and RTCP go out before the PLAY
                                         reply
                             timeout=S   Session says timeout=S and the session ends
                                         (connection closed, UDP ports freed) when no
                                         request names it for S seconds; without it,
                                         timeout=60 is said and not enforced
                             describedelay=MS
                                         answer DESCRIBE only after MS milliseconds, as
                                         a busy recorder or a waking camera does
                             pace=US     interleaved: every block in a send of its own,
                                         US microseconds apart (up to 100000), as
                                         packets come off a network one by one
                           and the faults
                             drop=N      leave out every Nth video RTP packet
                             stall=N     send nothing after N video frames
                             garbage=N   after N video frames send bytes that are no
                                         interleaved frame, once
                             pause=S     an outage: after the first second of video
                                         nothing at all for S seconds, once per
                                         session (requests are answered); then the
                                         pictures go on where they stopped, their RTP
                                         time moved on by the pause
                             resize=N    after N video frames the pictures are half as
                                         wide and high (rounded down to the codec's
                                         step, at least 16), from a key frame with the
                                         new configuration in band; not with sdpconfig
                             rtpclock=P  RTP timestamps (and sender reports) run at P %
                                         of the pace pictures are sent at, 50..200
                                         (102: a camera clock 2 % fast)
                             nocontrol   no a=control line for the video in the SDP
                             nomarker    no video packet has the RTP marker bit
                             nosprop     H.264/H.265: no sprop- parameter sets in the
                                         SDP, only those in the stream
                             spropcomma  H.264: sprop-parameter-sets ends in a comma
                             fulossevery=N
                                         H.264/H.265: a fragment from the middle of a
                                         fragmented NAL unit is left out once at least N
                                         frames have gone since the last one lost
                             mode0       H.264/H.265: every NAL unit in one packet of
                                         its own up to 65000 bytes, never aggregated or
                                         fragmented (H.264: packetization-mode=0, x264
                                         slices kept that small)
                             refresh     H.264: periodic intra refresh, an IDR picture
                                         only at the start, then a recovery point SEI
                                         every second (with live and start=N a session
                                         never sees an IDR picture)
                             noserverport
                                         UDP: SETUP replies name no server_port
                             otherport   UDP: RTP goes out from another port than the
                                         server_port named
                             swap=N      UDP: video packet N, 2N, ... goes out after the
                                         next packet of its frame
                             newssrc=N   at the first key frame after N video frames the
                                         encoder restarts: new SSRC, sequence numbers and
                                         timestamps
                             keypad=N    H.264/H.265: every key frame ends in a filler
                                         unit of N bytes (up to 8000000), in one burst
                           e.g. jpeg:320x240@15,type=0,q=255,restart=4,drop=10
  --rtsp-path [N=]PATH     serve channel N (default: the last --channel given, else CH01)
                           at PATH too; repeatable
  --rtsp-auth SCHEME       ask every RTSP request for credentials: basic, digest-md5,
                           digest-sha256, digest-both (MD5 then SHA-256),
                           digest-both-sha-first, basic+digest, digest+basic (the
                           challenges in that order) or none (the default)
  --rtsp-user U            the RTSP account (default admin)
  --rtsp-password P        its password (default secret)
  --rtsp-qop on|off        Digest with qop="auth" (default on) or in the RFC 2069 form
  --rtsp-stale-after S     a right Digest answer with a nonce older than S seconds gets
                           a 401 with stale=true and a fresh nonce (default 0: never)
  --device MODEL           what the CGI site plays besides the streaming server:
                             server      the streaming server alone (the default):
                                         only GetServerInfo.cgi
                             family-a[:SETTING,...]
                                         a family A camera answering every settings CGI
                                         ("key=value<br>" replies) from a store that its
                                         Set CGIs change; SETTINGs:
                               model=N       model code 0-255 (default 20)
                               firmware=V    firmware version (default 1.06)
                               video=C, audio=C
                                             channel count codes 0-4 for 1, 2, 4, 8, 16
                                             channels (bits 16-19, 20-23 of CameraType)
                               older         no GetCameraType.cgi (404)
                               device=K      a device camera of kind K: GetCameraType.cgi
                                             adds Device, Ptz, 2-Way, VideoNum, AudioNum,
                                             IO_InputNum, IO_OutputNum, Resolution<K+1>,
                                             CodecType<K+1>, set by ptz=0|1 (1), 2way=0|1
                                             (0), videonum=N (1), audionum=N (1),
                                             inputs=N (2), outputs=N (2),
                                             resolutions=A/B/... (640x480/320x240/160x120),
                                             codecs=A/B/... (mpeg4/mjpeg)
                               dvr=N         dvr_channel of GetDVRCHANNEL.cgi (default 4)
                             and its streams (GetStream.cgi on the web port always):
                               http-stream   announce GetStream.cgi (capability bit 0)
                               rtsp=P        announce RTSP (capability bit 1), Rtsp_Port=P
                               caps=N        the capability byte, bits 8-15 of CameraType
                               framing=F     hunt (the default) or 3297
                               video-port=N  listen for the login-block video stream on N
                                             (0: any), reported as Video_Port
                               audio-port=N  the same for audio (no login)
                               i2p-port=N    Audio_I2P_Port=N
                               noports       GetNetwork.cgi without any port key
                               path1=P, path2=P, path3gpp=P
                                             Path_Live1=, Path_Live2=, Path_3GPP=
                               stream=SPEC   the next video channel, CODEC:WxH@FPS (mpeg4
                                             or jpeg) with '/' before further settings
                                             (default: one mpeg4:640x480@30 per announced
                                             channel)
                               tz=MIN        time-zone offset in the stream (default 0)
                               start=S       the camera's clock at a stream's start, seconds
                                             since 1970 (default: now)
                               noinfo        no info packet at the start of a 3297 stream
                               extra-header=N
                                             3297 headers N bytes longer than 20
                               full          accept streams and send nothing (no free slot)
                               status=N      GetStream.cgi answers status N
                               nohttp        GetStream.cgi answers 404
                               at=F:WHAT[:A[:B]]
                                             before picture F of every video stream: event:E,
                                             inputs:BITS, overlay:MODE:ON, talk:STREAMS:TALK,
                                             flag:MASK, info, ignored:BYTES, trailer, empty,
                                             badsum, garbage, switch (framing), stall:MS (0:
                                             for good); repeatable
                             family-b[:SETTING,...]
                                         a family B camera ("key = value" replies,
                                         GetMyself.cgi, GetStatus.cgi with its status
                                         block); SETTINGs:
                               recorder=N    a recorder of 4, 8 or 16 channels, answering
                                             GetDVRtype.cgi with "DVRtype = 0, 1 or 2"
                               firmware=V    firmware version (default 2.10)
                               notv          GetStatus.cgi without tv_standard
                             and its data channels (GetData.cgi?Status=true: JPEG pictures,
                             each followed by "plaintext" and an 82-byte status block;
                             GetAudioData.cgi?Format=Pcm: 8 kHz 16-bit PCM of a 1 kHz tone):
                               size=WxH      picture size (default 640x480); status byte 21
                                             is 0 for 160x120, 1 320x240, 2 640x480,
                                             3 1280x960, 255 other sizes
                               fps=N         pictures per second, 1-60 (default 15)
                               q=Q           JPEG Q 1-99 (default 75)
                               size-code=N   status byte 21 is N whatever the size
                               bytes=HEX     status bytes 60-65, 12 hex digits (default 0s)
                               nodata, noaudio
                                             GetData.cgi, GetAudioData.cgi answer 404
                               refuse=N      GetData.cgi answers status N
                               cut           GetData.cgi's refusal (refuse=N, nodata) ends
                                             before the blank line of its head
                               at=P:WHAT[:A[:B]]
                                             before picture P of every GetData.cgi stream:
                                             status:HEX (bytes 60-65 from here on),
                                             changing (bytes 60-65 change every picture),
                                             resize:WxH, code[:N] (byte 21, none: the
                                             size's), split:MS[:N] (the block in two
                                             pieces, N bytes first, MS apart), garbage,
                                             big:BYTES (picture padded to BYTES),
                                             stall:MS (0: for good); repeatable
                           and for either family
                               talk-status=N Chatting.cgi answers N (default 200: keeps the
                                             connection and records what the client
                                             sends); 0 closes without answering
                           e.g. family-a:model=20,firmware=1.06,device=1,codecs=mpeg4
  --hide-rtsp-port         GetServerInfo.cgi answers "Channel=N" without "Rtsp_Port=P"
  --onvif                  an ONVIF (Profile S) device on the web port: /onvif/device_service,
                           /onvif/media_service, /onvif/media2_service, /onvif/ptz_service
                           (SOAP 1.2), a profile per channel (H.265 ones in Media2 only), PTZ
                           on the camera's head, and WS-Discovery on UDP; the account is the
                           RTSP one (--rtsp-user, --rtsp-password), asked as a WS-Security
                           UsernameToken (digest or text, Created within 5 s, each nonce
                           once) by all but GetSystemDateAndTime, GetServices and
                           GetCapabilities
  --discovery-port N       the WS-Discovery port (default 3702), shared with other simulators
  --clock-skew SECONDS     the device clock runs this far (signed) from real UTC
  --onvif-xaddr-any        discovery advertises http://0.0.0.0:PORT/onvif/device_service
  --onvif-internal-uri     stream URIs name an internal host (rtsp://192.168.0.64:PORT/...)
  --onvif-digest           the services ask for HTTP Digest (MD5, qop=auth) instead of a
                           UsernameToken
  --onvif-name TEXT        the name scope and model (default "Kestrel Camsim")
  --onvif-hardware TEXT    the hardware scope (default camsim)
  --onvif-prefixes STYLE   the prefixes of replies: odd (e, dv, md, sc, ...; the default) or
                           gsoap (SOAP-ENV, tds, trt, tt, ...)
  --onvif-fault NAME       a habit of broken or hostile devices; repeatable:
                             basic-only     HTTP Basic is the only account check offered
                             huge-reply     GetProfiles answers with more than 1 MiB
                             https-redirect every request is redirected (307) to https://
                             foreign-xaddrs the services are named at the internal host, port
                                            80 (a camera behind a port forward)
                             control-texts  profile names carry a tab and a line end
                             no-ptz         no profile has PTZ; PTZ requests are refused
                             no-zoom        the head has no zoom; a zoom velocity is refused
                             drip           replies come a byte every 200 ms
                             keep-open      replies without Content-Length, connection kept
  --onvif-xaddrs TEXT      discovery advertises these XAddrs as given
  --onvif-endpoint URN     discovery names the device by this endpoint
  --onvif-flood N          each discovery answer also lists N made-up devices (0-1000)
  --log                    print each request head (CGI and RTSP) and each ONVIF operation
                           and discovery message to standard error
  -h, --help               print this help and exit

Bad arguments exit with status 2.
)";
}

}  // namespace camsim
