-- wrk script: screen round trips of the ECHO transaction through the web
-- server, the gateway and the stand-in host.  Each wrk thread (one
-- connection each) drives a host session of its own, opened beforehand:
-- the sessions file given after "--" holds one "sid host-id" line per
-- thread.  Every answer must be the ECHO screen of that same session.

local sessionsFile = nil
local threads = {}
local counter = 0

function setup(thread)
  counter = counter + 1
  thread:set("index", counter)
  table.insert(threads, thread)
end

function init(args)
  sessionsFile = args[1]
  local n = 0
  for line in io.lines(sessionsFile) do
    n = n + 1
    if n == index then
      sid, hostId = line:match("^(%x+)%s+(%x+)")
    end
  end
  if not sid then error("no session for thread " .. index) end
  rounds = 0
  bad = 0
  path = "/qoric?sid=" .. sid .. "&pib.transaction=ECHO&pib.locap=QOR1&mcs.name=ECHO&mcs.filler="
  wrk.method = "POST"
  wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
end

function request()
  rounds = rounds + 1
  local body = "field_003=" .. hostId .. "&field_005=0&field_007=wrk+" .. index .. "+" .. rounds ..
               "&field_009=&McsStatus=+&McsSize=74&McsCount=74"
  return wrk.format("POST", path, nil, body)
end

function response(status, headers, body)
  if status ~= 200 or not body:find('NAME="ECHO"', 1, true) or not body:find(hostId, 1, true) then
    bad = bad + 1
  end
end

function done(summary, latency, requests)
  local wrong = 0
  for _, t in ipairs(threads) do wrong = wrong + (t:get("bad") or 0) end
  io.write(string.format("wrong answers: %d\n", wrong))
end
