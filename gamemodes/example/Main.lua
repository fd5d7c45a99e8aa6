-- A small worked game mode: a spawn class, player commands, a timer and
-- events. To try it, put it in the server's working directory as Main.lua
-- (with scripts/run.sh: cp gamemodes/example/Main.lua run/Main.lua).
-- docs/scripting.md describes every native used here.

-- The top level runs when the server starts (and again after each restart),
-- before the network is up: these settings decide how the server starts.
setServerName("Quillmere Example")
setModeName("Example Mode")
setMaxPlayers(32)

-- The four numbers after a chat text are colour bytes that the client
-- interprets; these are the ones the console's "say" uses.
local function tell(playerid, text)
  outputChatBox(playerid, text, 0, 255, 255, 255)
end

local function tellAll(text)
  outputChatBox(text, 0, 255, 255, 255)
end

-- A spawn class with two members: before spawning, a player picks a member.
-- addSpawnClass(name, red, green, blue, x, y, z, angle,
--               second x, second y, second z, interior)
local homeX, homeY, homeZ = 1200.0, -850.0, 14.5
local citizens = addSpawnClass("Citizens", 255, 200, 0, homeX, homeY, homeZ, 90.0,
                               homeX - 6.0, homeY, homeZ + 2.0, 0)
-- addClassMember(class, skin, x, y, z, angle,
--                weapon, ammo, weapon, ammo, weapon, ammo)
addClassMember(citizens, 1, homeX, homeY, homeZ, 90.0, 2, 1, 22, 90, 0, 0)
addClassMember(citizens, 2, homeX + 2.0, homeY, homeZ, 90.0, 5, 1, 0, 0, 0, 0)

-- Commands. Without a third argument every word of the line arrives as a
-- separate text argument after the player id.
addCommand("/help", "cmdHelp")
function cmdHelp(playerid)
  tell(playerid, "Commands: /help, /heal, /car [model], /pm <id> <text>")
end

addCommand("/heal", "cmdHeal")
function cmdHeal(playerid)
  setPlayerHealth(playerid, 100.0)
  setPlayerArmour(playerid, 100.0)
  tell(playerid, "Healed.")
end

-- One vehicle per player, replaced by the next /car.
local carOf = {}
addCommand("/car", "cmdCar")
function cmdCar(playerid, word)
  local x, y, z = getPlayerPos(playerid)
  if not x then return end  -- not connected (any more)
  local model = 130
  if word then model = tonumber(word) or getVehicleModelIDFromName(word) end
  if carOf[playerid] then destroyVehicle(carOf[playerid]) end
  carOf[playerid] = createVehicle(model, x + 3.0, y, z, getPlayerAngle(playerid), 1, 1)
  if not carOf[playerid] then tell(playerid, "No such vehicle model.") end
end

-- With a count of 2 the function gets the first word, then the rest of the
-- line as one text: "/pm 3 see you there" gives ("3", "see you there").
addCommand("/pm", "cmdPm", 2)
function cmdPm(playerid, to, text)
  local target = tonumber(to)
  if not target or isPlayerConnected(target) == 0 then
    tell(playerid, "No player " .. to .. ".")
    return
  end
  tell(target, "PM from " .. getPlayerName(playerid) .. ": " .. text)
  tell(playerid, "PM sent to " .. getPlayerName(target) .. ".")
end

-- A timer: every 60 seconds, for ever (count 0). Timer functions are
-- called by name, without arguments.
function announceTime()
  local hour, minute = getServerTime()
  tellAll(string.format("It is %02d:%02d. Type /help for the commands.", hour, minute))
end
createTimer("announceTime", 60000, 0)

-- Events: global functions with fixed names that the server calls.
function onPlayerConnect(playerid)
  tellAll(getPlayerName(playerid) .. " has joined.")
  tell(playerid, "Welcome! Type /help for the commands.")
end

local leaveReasons = {[0] = "timed out", "quit", "banned", "kicked"}
function onPlayerDisconnect(playerid, reason)
  -- The player can still be read here: the slot is freed afterwards.
  tellAll(getPlayerName(playerid) .. " has left (" .. (leaveReasons[reason] or "?") .. ").")
  if carOf[playerid] then
    destroyVehicle(carOf[playerid])
    carOf[playerid] = nil
  end
end

function onPlayerDeath(playerid, killer, reason)
  -- The killer is whatever the client reported: check it before use.
  if killer ~= playerid and isPlayerConnected(killer) == 1 then
    setPlayerScore(killer, getPlayerScore(killer) + 1)
    tell(killer, "You killed " .. getPlayerName(playerid) .. ".")
  end
end

outputConsole("Example game mode loaded.")
