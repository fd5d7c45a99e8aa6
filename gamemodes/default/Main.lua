-- The default game mode: names the server and the mode, nothing more.

setServerName("Quillmere Default Server")
setModeName("Quillmere Freeroam")

print("Main.lua loaded")
