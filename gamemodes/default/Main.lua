-- The default game mode: names the server and the mode, nothing more.

if setServerName then
  setServerName("Quillmere Default Server")
end
if setModeName then
  setModeName("Quillmere Freeroam")
end

print("Main.lua loaded")
