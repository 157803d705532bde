-- wrk script: the baseline, a bare FastCGI responder's fixed page behind
-- the same web server, asked the same way (a form POST).
function init(args)
  bad = 0
  wrk.method = "POST"
  wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
  wrk.body = "field_003=10001&field_005=0&field_007=wrk&field_009=&McsStatus=+&McsSize=74&McsCount=74"
end

function response(status, headers, body)
  if status ~= 200 then bad = bad + 1 end
end
